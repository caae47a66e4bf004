#include "scenes/scene_list.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>

#include "scenes/cp1252.h"
#include "options/options.h"
#include "util/atomic_file.h"
#include "util/file_lock.h"
#include "util/file_read.h"

namespace tarvo {
namespace {

bool IsBlank(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

}  // namespace

TSceneList::TSceneList(const Collator& collator) : collator_(collator) {}

TSceneList::~TSceneList() = default;

int TSceneList::IndexOf(const std::string& name) const {
  int lo = 0, hi = Count() - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = collator_.Compare(entries_[static_cast<size_t>(mid)].name, name);
    if (c == 0) return mid;
    if (c < 0) lo = mid + 1;
    else hi = mid - 1;
  }
  return -1;
}

bool TSceneList::CheckName(const std::string& name, std::string* stored, std::string* error) const {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (IsBlank(name)) return fail("A scene needs a name that is not empty or blank.");
  std::string bytes, why;
  if (!Utf8ToCp1252(name, bytes, &why)) return fail("The scene name \"" + name + "\" cannot be used: " + why + ".");
  if (bytes.size() > kSceneNameMax)
    return fail("The scene name \"" + name + "\" is longer than " + std::to_string(kSceneNameMax) + " characters.");
  if (collator_.Compare(name, kNoSceneName) <= 0)
    return fail("The scene name \"" + name + "\" would be listed before \"<none>\"; start it with a letter or digit.");
  if (stored) *stored = bytes;
  return true;
}

void TSceneList::EnsurePlaceholder() {
  if (entries_.empty()) entries_.push_back(Entry{kNoSceneName, nullptr});
}

int TSceneList::Add(const std::string& name, std::unique_ptr<TScene> scene, std::string* error) {
  if (!CheckName(name, nullptr, error)) return -1;
  EnsurePlaceholder();
  // First entry not ordered before `name`; entry 0 orders before every name
  // CheckName lets through.
  size_t lo = 1, hi = entries_.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (collator_.Compare(entries_[mid].name, name) < 0) lo = mid + 1;
    else hi = mid;
  }
  if (lo < entries_.size() && collator_.Compare(entries_[lo].name, name) == 0) {
    entries_[lo].scene = std::move(scene);
    return static_cast<int>(lo);
  }
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(lo), Entry{name, std::move(scene)});
  return static_cast<int>(lo);
}

void TSceneList::Delete(int index) {
  if (index < 1 || index >= Count()) return;
  Entry& e = entries_[static_cast<size_t>(index)];
  if (e.onDisk) deleted_.push_back(e.name);
  // The latest earlier record of an equal name is the one the next loading
  // would list.
  for (size_t k = shadowed_.size(); k-- > 0;) {
    const std::string name = Cp1252ToUtf8(SceneNameOf(shadowed_[k]));
    if (collator_.Compare(name, e.name) != 0) continue;
    e.name = name;
    e.scene = std::make_unique<TScene>();
    e.scene->Specs = shadowed_[k];
    e.onDisk = true;
    e.disk = shadowed_[k];
    shadowed_.erase(shadowed_.begin() + static_cast<std::ptrdiff_t>(k));
    return;
  }
  entries_.erase(entries_.begin() + index);
}

void TSceneList::Clear() {
  entries_.clear();
  aside_.clear();
  shadowed_.clear();
  tail_.clear();
  deleted_.clear();
  problems_.clear();
}

bool TSceneList::SetFileName(const std::string& path, std::string* error) {
  if (path == fileName_) return true;
  if (!fileName_.empty()) {
    if (!SaveToFile(fileName_, error)) return false;
    Clear();
  }
  fileName_ = path;
  loadError_.clear();
  if (!path.empty()) {
    EnsurePlaceholder();
    // A missing file is an empty list. A file that is there but cannot be
    // read is remembered, so that saving does not replace the scenes it holds.
    std::string why;
    const ReadStatus status = LoadFile(path, &why);
    if (status != ReadStatus::Ok && status != ReadStatus::Missing) loadError_ = "cannot read the scene file: " + why;
  }
  return true;
}

void TSceneList::LoadBytes(const uint8_t* data, size_t size, const std::string& origin) {
  EnsurePlaceholder();
  const size_t count = size / kSpecsSize;
  const size_t rest = size - count * kSpecsSize;
  if (rest > 0) {
    tail_.assign(reinterpret_cast<const char*>(data) + count * kSpecsSize, rest);
    problems_.push_back("The last " + std::to_string(rest) + " bytes" + origin +
                        " are not a whole scene record. They are kept at the end of the file unchanged.");
  }
  // Every record is checked in file order, then the listable ones are sorted
  // once and merged into the list: the same list as adding them one by one,
  // without moving the whole list for every record.
  struct Loaded {
    std::string name;
    std::unique_ptr<TScene> scene;
    size_t record;  // 1-based position in the file
  };
  std::vector<Loaded> loaded;
  loaded.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    auto scene = std::make_unique<TScene>();
    std::memcpy(&scene->Specs, data + k * kSpecsSize, kSpecsSize);
    std::string name = Cp1252ToUtf8(SceneNameOf(scene->Specs));
    std::string why;
    if (!CheckName(name, nullptr, &why)) {
      aside_.push_back(scene->Specs);
      problems_.push_back("Scene record " + std::to_string(k + 1) + origin + " is not listed: " + why +
                          " It is kept in the file unchanged.");
      continue;
    }
    loaded.push_back(Loaded{std::move(name), std::move(scene), k + 1});
  }
  if (loaded.empty()) return;

  // Stable, so that records of equal names stay in file order.
  const std::vector<size_t> order = collator_.StableOrder(loaded.size(), [&](size_t i) -> const std::string& {
    return loaded[i].name;
  });

  std::vector<Entry> merged;
  merged.reserve(entries_.size() + loaded.size());
  merged.push_back(std::move(entries_[0]));  // "<none>"
  size_t e = 1;
  for (size_t o = 0; o < order.size();) {
    // The run of records whose names equal this one: the last record is
    // listed under its own spelling, the earlier ones are kept aside.
    size_t end = o + 1;
    while (end < order.size() && collator_.Compare(loaded[order[end]].name, loaded[order[o]].name) == 0) ++end;
    Loaded& last = loaded[order[end - 1]];
    while (e < entries_.size() && collator_.Compare(entries_[e].name, last.name) < 0)
      merged.push_back(std::move(entries_[e++]));
    Entry entry;
    if (e < entries_.size() && collator_.Compare(entries_[e].name, last.name) == 0) {
      entry = std::move(entries_[e++]);
      if (entry.onDisk) {  // read before
        problems_.push_back("Scene record " + std::to_string(loaded[order[o]].record) + origin + " (\"" +
                            loaded[order[o]].name + "\") has the name of a scene read before (\"" + entry.name +
                            "\"), letter case aside. The scene read before is kept aside unchanged.");
        shadowed_.push_back(entry.disk);
      }
    }
    for (size_t r = o; r + 1 < end; ++r) {
      const Loaded& earlier = loaded[order[r]];
      problems_.push_back("Scene record " + std::to_string(earlier.record) + origin + " (\"" + earlier.name +
                          "\") has the name of the later record " + std::to_string(last.record) + " (\"" +
                          last.name + "\"), letter case aside: record " + std::to_string(last.record) +
                          " is listed, record " + std::to_string(earlier.record) +
                          " is kept in the file unchanged.");
      shadowed_.push_back(earlier.scene->Specs);
    }
    entry.name = std::move(last.name);
    entry.scene = std::move(last.scene);
    entry.onDisk = true;
    entry.disk = entry.scene->Specs;
    merged.push_back(std::move(entry));
    o = end;
  }
  while (e < entries_.size()) merged.push_back(std::move(entries_[e++]));
  entries_ = std::move(merged);
}

void TSceneList::LoadFromStream(std::istream& in) {
  std::vector<uint8_t> bytes;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) bytes.insert(bytes.end(), buf, buf + in.gcount());
  LoadBytes(bytes.data(), bytes.size(), "");
}

ReadStatus TSceneList::LoadFile(const std::string& path, std::string* why) {
  std::vector<uint8_t> bytes;
  const ReadStatus status = ReadStoredFile(path, kMaxSceneFileSize, bytes, why);
  if (status == ReadStatus::Ok) LoadBytes(bytes.data(), bytes.size(), " of '" + path + "'");
  return status;
}

bool TSceneList::LoadFromFile(const std::string& path, std::string* error) {
  std::string why;
  if (LoadFile(path, &why) == ReadStatus::Ok) return true;
  if (error) *error = "The scene file could not be read: " + why + ".";
  return false;
}

std::vector<uint8_t> TSceneList::Bytes() const {
  std::vector<uint8_t> out;
  out.reserve((shadowed_.size() + entries_.size() + aside_.size()) * kSpecsSize + tail_.size());
  auto append = [&](const TSpecs& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(&s);
    out.insert(out.end(), p, p + kSpecsSize);
  };
  // Earlier records grouped by name in list order, each group in file order:
  // loading the result keeps them aside in that same order.
  std::vector<std::pair<std::string, size_t>> earlier;
  for (size_t k = 0; k < shadowed_.size(); ++k) earlier.emplace_back(Cp1252ToUtf8(SceneNameOf(shadowed_[k])), k);
  std::stable_sort(earlier.begin(), earlier.end(),
                   [&](const auto& a, const auto& b) { return collator_.Compare(a.first, b.first) < 0; });
  for (const auto& e : earlier) append(shadowed_[e.second]);
  for (size_t i = 1; i < entries_.size(); ++i)
    if (entries_[i].scene) append(entries_[i].scene->Specs);
  for (const TSpecs& s : aside_) append(s);
  out.insert(out.end(), tail_.begin(), tail_.end());
  return out;
}

void TSceneList::SaveToStream(std::ostream& out) const {
  const std::vector<uint8_t> bytes = Bytes();
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool TSceneList::MergeIntoFile(std::string* why) {
  FileSaveLock lock(fileName_);
  // The file as it is now: another process may have saved since we read it.
  TSceneList merged(collator_);
  merged.EnsurePlaceholder();
  const ReadStatus status = merged.LoadFile(fileName_, why);
  if (status != ReadStatus::Ok && status != ReadStatus::Missing) return false;
  for (const std::string& name : deleted_) {
    const int at = merged.IndexOf(name);
    if (at >= 1) merged.Delete(at);
  }
  for (size_t i = 1; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (!e.scene || (e.onDisk && std::memcmp(&e.disk, &e.scene->Specs, kSpecsSize) == 0)) continue;
    auto copy = std::make_unique<TScene>();
    copy->Specs = e.scene->Specs;
    if (merged.Add(e.name, std::move(copy), why) < 0) return false;
  }
  const std::vector<uint8_t> bytes = merged.Bytes();
  if (!WriteFileAtomically(fileName_, bytes.data(), bytes.size(), why)) return false;
  // This list now holds what the file holds.
  for (Entry& e : merged.entries_) {
    if (!e.scene) continue;
    e.onDisk = true;
    e.disk = e.scene->Specs;
  }
  entries_ = std::move(merged.entries_);
  aside_ = std::move(merged.aside_);
  shadowed_ = std::move(merged.shadowed_);
  tail_ = std::move(merged.tail_);
  problems_ = std::move(merged.problems_);
  deleted_.clear();
  return true;
}

bool TSceneList::SaveToFile(const std::string& path, std::string* error) {
  if (!loadError_.empty() && path == fileName_) {
    if (error)
      *error = "The scenes could not be saved: " + loadError_ +
               ", and saving would replace what it holds. The scene file on disk is unchanged.";
    return false;
  }
  std::string why;
  bool saved;
  if (!path.empty() && path == fileName_) {
    saved = MergeIntoFile(&why);
  } else {
    const std::vector<uint8_t> bytes = Bytes();
    saved = WriteFileAtomically(path, bytes.data(), bytes.size(), &why);
  }
  if (saved) return true;
  if (error) *error = "The scenes could not be saved: " + why + ". The scene file on disk is unchanged.";
  return false;
}

}  // namespace tarvo
