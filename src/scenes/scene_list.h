// Scenes: named copies of a clip's parameter record, kept in one sorted list
// per loaded filter and stored in the scene file as headerless 256-byte
// records.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "scenes/collator.h"
#include "types/specs.h"
#include "util/file_read.h"

namespace tarvo {

// The largest scene file read: 262,144 scenes. A larger file is refused
// rather than read into memory.
constexpr uint64_t kMaxSceneFileSize = uint64_t{64} << 20;

// One scene: a full record. Its name is the record's SceneName.
struct TScene {
  TSpecs Specs{};
};

// A sorted list of (name, scene) entries. Entry 0 is always the placeholder
// "<none>" without a scene; entries 1..Count-1 are scenes, ordered by the
// collator (letter case ignored). Names are UTF-8 here and Windows-1252 in the
// records. The list is empty until it is first bound to a file.
class TSceneList {
 public:
  explicit TSceneList(const Collator& collator);
  // Frees the scenes without writing anything.
  ~TSceneList();
  TSceneList(const TSceneList&) = delete;
  TSceneList& operator=(const TSceneList&) = delete;

  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Name(int index) const { return entries_[static_cast<size_t>(index)].name; }
  // The scene at an entry; nullptr for "<none>".
  TScene* Scene(int index) const { return entries_[static_cast<size_t>(index)].scene.get(); }

  // Position of the entry whose name compares equal to `name`, or -1.
  int IndexOf(const std::string& name) const;

  // Whether `name` may enter the list: not empty or blank, at most
  // kSceneNameMax characters, every character storable in Windows-1252, and ordered after
  // "<none>". On success `stored` (optional) receives the record's bytes.
  bool CheckName(const std::string& name, std::string* stored, std::string* error) const;

  // Adds a scene under `name` and returns its position. When an entry with an
  // equal name exists, its scene is replaced (the entry keeps its spelling)
  // and its position returned. A name CheckName refuses gives -1 and the
  // message; the list is then unchanged.
  int Add(const std::string& name, std::unique_ptr<TScene> scene, std::string* error = nullptr);
  // Removes a scene entry (1..Count-1).
  void Delete(int index);
  // Removes every entry, "<none>" included.
  void Clear();

  // The scene file the list is bound to ("" until bound).
  const std::string& FileName() const { return fileName_; }
  // Binds the list to a scene file. Nothing happens for the current name.
  // Otherwise a bound list is first saved to its file and emptied; then, for
  // a non-empty path, "<none>" is added and the file loaded (a missing or
  // unreadable file leaves just "<none>"). When saving the old file fails the
  // list stays as it was, bound to the old file, and false is returned.
  // A file that is there but cannot be read (a directory, a pipe, a file
  // larger than kMaxSceneFileSize, no permission) is named in LoadError(),
  // and the list then refuses to save over it.
  bool SetFileName(const std::string& path, std::string* error = nullptr);
  // Why the bound scene file could not be read; "" when it was read or is
  // missing.
  const std::string& LoadError() const { return loadError_; }

  // Reads 256-byte records until fewer than 256 bytes remain (the remainder
  // is ignored). Each record is added under its SceneName; of two equal
  // names the later record wins. A record whose name the list cannot take is
  // kept aside unchanged, written back at the end of the file on saving, and
  // reported in LoadProblems().
  void LoadFromStream(std::istream& in);
  // Writes the records of entries 1..Count-1 in list order, then the records
  // kept aside.
  void SaveToStream(std::ostream& out) const;
  // Adds the scenes of a file of at most kMaxSceneFileSize bytes. False with
  // a message when it is missing or cannot be read.
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);
  // Writes a new file and renames it over the old one, so a failed save
  // leaves the old file as it was. False with a message on failure.
  bool SaveToFile(const std::string& path, std::string* error = nullptr) const;

  const std::vector<std::string>& LoadProblems() const { return problems_; }
  int SetAsideCount() const { return static_cast<int>(aside_.size()); }

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<TScene> scene;
  };
  void EnsurePlaceholder();
  void LoadBytes(const uint8_t* data, size_t size, const std::string& origin);
  ReadStatus LoadFile(const std::string& path, std::string* why);
  std::vector<uint8_t> Bytes() const;

  const Collator& collator_;
  std::vector<Entry> entries_;
  std::vector<TSpecs> aside_;
  std::vector<std::string> problems_;
  std::string fileName_;
  std::string loadError_;
};

}  // namespace tarvo
