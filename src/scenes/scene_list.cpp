#include "scenes/scene_list.h"

#include <cstring>
#include <istream>
#include <ostream>

#include "scenes/cp1252.h"
#include "options/options.h"
#include "util/atomic_file.h"
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
  entries_.erase(entries_.begin() + index);
}

void TSceneList::Clear() {
  entries_.clear();
  aside_.clear();
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
  // Every record is checked in file order, then the listable ones are sorted
  // once and merged into the list: the same list as adding them one by one
  // (of equal names the entry keeps the first spelling and takes the last
  // record), without moving the whole list for every record.
  struct Loaded {
    std::string name;
    std::unique_ptr<TScene> scene;
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
    loaded.push_back(Loaded{std::move(name), std::move(scene)});
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
    Loaded& first = loaded[order[o]];
    // The run of records whose names equal this one: the last record wins.
    size_t end = o + 1;
    while (end < order.size() && collator_.Compare(loaded[order[end]].name, first.name) == 0) ++end;
    std::unique_ptr<TScene> scene = std::move(loaded[order[end - 1]].scene);
    while (e < entries_.size() && collator_.Compare(entries_[e].name, first.name) < 0)
      merged.push_back(std::move(entries_[e++]));
    if (e < entries_.size() && collator_.Compare(entries_[e].name, first.name) == 0) {
      entries_[e].scene = std::move(scene);  // an entry keeps its spelling
      merged.push_back(std::move(entries_[e++]));
    } else {
      merged.push_back(Entry{std::move(first.name), std::move(scene)});
    }
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
  out.reserve((entries_.size() + aside_.size()) * kSpecsSize);
  auto append = [&](const TSpecs& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(&s);
    out.insert(out.end(), p, p + kSpecsSize);
  };
  for (size_t i = 1; i < entries_.size(); ++i)
    if (entries_[i].scene) append(entries_[i].scene->Specs);
  for (const TSpecs& s : aside_) append(s);
  return out;
}

void TSceneList::SaveToStream(std::ostream& out) const {
  const std::vector<uint8_t> bytes = Bytes();
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool TSceneList::SaveToFile(const std::string& path, std::string* error) const {
  if (!loadError_.empty() && path == fileName_) {
    if (error)
      *error = "The scenes could not be saved: " + loadError_ +
               ", and saving would replace what it holds. The scene file on disk is unchanged.";
    return false;
  }
  const std::vector<uint8_t> bytes = Bytes();
  std::string why;
  if (WriteFileAtomically(path, bytes.data(), bytes.size(), &why)) return true;
  if (error) *error = "The scenes could not be saved: " + why + ". The scene file on disk is unchanged.";
  return false;
}

}  // namespace tarvo
