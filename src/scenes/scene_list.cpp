#include "scenes/scene_list.h"

#include <cstring>
#include <istream>
#include <ostream>

#include "scenes/cp1252.h"
#include "options/options.h"
#include "util/atomic_file.h"

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
  if (!path.empty()) {
    EnsurePlaceholder();
    LoadFromFile(path, nullptr);  // a missing or unreadable file is no error here
  }
  return true;
}

void TSceneList::LoadBytes(const uint8_t* data, size_t size, const std::string& origin) {
  EnsurePlaceholder();
  const size_t count = size / kSpecsSize;
  for (size_t k = 0; k < count; ++k) {
    auto scene = std::make_unique<TScene>();
    std::memcpy(&scene->Specs, data + k * kSpecsSize, kSpecsSize);
    const std::string name = Cp1252ToUtf8(SceneNameOf(scene->Specs));
    std::string why;
    if (Add(name, std::move(scene), &why) < 0) {
      TSpecs kept;
      std::memcpy(&kept, data + k * kSpecsSize, kSpecsSize);
      aside_.push_back(kept);
      problems_.push_back("Scene record " + std::to_string(k + 1) + origin + " is not listed: " + why +
                          " It is kept in the file unchanged.");
    }
  }
}

void TSceneList::LoadFromStream(std::istream& in) {
  std::vector<uint8_t> bytes;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) bytes.insert(bytes.end(), buf, buf + in.gcount());
  LoadBytes(bytes.data(), bytes.size(), "");
}

bool TSceneList::LoadFromFile(const std::string& path, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  LoadBytes(bytes.data(), bytes.size(), " of '" + path + "'");
  return true;
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
  const std::vector<uint8_t> bytes = Bytes();
  std::string why;
  if (WriteFileAtomically(path, bytes.data(), bytes.size(), &why)) return true;
  if (error) *error = "The scenes could not be saved: " + why + ". The scene file on disk is unchanged.";
  return false;
}

}  // namespace tarvo
