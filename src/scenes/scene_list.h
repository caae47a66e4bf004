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
  // Removes a scene entry (1..Count-1). When the file held an earlier record
  // of an equal name (kept aside at loading), that record takes the entry's
  // place, as it would at the next loading.
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

  // Reads 256-byte records. Each record is added under its SceneName; of two
  // equal names (letter case aside) the later record is listed, under its own
  // spelling. Nothing read is lost, and each of the following is reported in
  // LoadProblems(): a record whose name the list cannot take, and an earlier
  // record whose name a later one takes, are kept aside unchanged; fewer than
  // 256 bytes left at the end are kept as they are.
  void LoadFromStream(std::istream& in);
  // Writes the records kept aside for a later record of an equal name
  // (grouped by name in list order, each group in file order, so that the
  // later record is listed again at the next loading), the records of
  // entries 1..Count-1 in list order, the records kept aside for their names,
  // and the bytes that followed the last whole record.
  void SaveToStream(std::ostream& out) const;
  // Adds the scenes of a file of at most kMaxSceneFileSize bytes. False with
  // a message when it is missing or cannot be read.
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);
  // Writes a new file and renames it over the old one, so a failed save
  // leaves the old file as it was. False with a message on failure.
  //
  // Saving to the bound file merges: under a lock shared with every other
  // process saving that file, the file is read again and this list's changes
  // since it was loaded or last saved (scenes added, replaced or deleted) are
  // applied to what the file holds now; scenes this list did not change,
  // records kept aside and trailing bytes are taken from the file. The list
  // then holds what was written. Saving to another path writes this list.
  bool SaveToFile(const std::string& path, std::string* error = nullptr);

  const std::vector<std::string>& LoadProblems() const { return problems_; }
  // Records kept aside: unlistable names and earlier records of equal names.
  int SetAsideCount() const { return static_cast<int>(aside_.size() + shadowed_.size()); }
  // Bytes after the last whole record, kept to be written back.
  size_t TrailingByteCount() const { return tail_.size(); }

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<TScene> scene;
    // The record as the file held it when loaded or last saved; a scene
    // whose record differs, or that the file did not hold, is this list's
    // change.
    bool onDisk = false;
    TSpecs disk{};
  };
  void EnsurePlaceholder();
  void LoadBytes(const uint8_t* data, size_t size, const std::string& origin);
  ReadStatus LoadFile(const std::string& path, std::string* why);
  std::vector<uint8_t> Bytes() const;
  bool MergeIntoFile(std::string* why);

  const Collator& collator_;
  std::vector<Entry> entries_;
  std::vector<TSpecs> aside_;
  std::vector<TSpecs> shadowed_;
  std::string tail_;
  std::vector<std::string> deleted_;  // names of scenes the file held, deleted here
  std::vector<std::string> problems_;
  std::string fileName_;
  std::string loadError_;
};

}  // namespace tarvo
