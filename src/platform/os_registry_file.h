// The options store kept in a text file in the registry-export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Morlund\Tarvo\Options]
//   "ShowHints"=dword:00000001
//   "SceneFile"="/home/ann/.config/tarvo/SCENES.KVS"
//
// Integers are written as dword:<8 hex digits>, strings in double quotes with
// backslash, double quote and control characters escaped (\\, \", \xHH).
//
// Writing takes an exclusive lock (flock on "<file>.lock"), reads the file
// again, merges this process's changes into what it finds, and replaces the
// file atomically, so two processes writing at once both keep their values.
// A damaged or partly written file is renamed aside to
// "<file>.damaged-<time>" and replaced by the part that could be read; the
// values that could not be read are then missing and take their defaults.
// When the file cannot be written the store keeps working in memory and says
// so once on standard error.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "options/option_store.h"

namespace tarvo {

// The largest options file read. A larger one, or anything but a regular
// file at its path, is refused: the store then runs on its defaults in
// memory, says so once and leaves what is there untouched.
constexpr uint64_t kMaxOptionsFileSize = uint64_t{16} << 20;

// The options file: $TARVO_REGISTRY when set and not empty, otherwise
// $XDG_CONFIG_HOME/tarvo/registry.reg (XDG_CONFIG_HOME defaulting to
// ~/.config).
std::string DefaultRegistryPath();

// Text form of a store. Unreadable values are left out.
std::string FormatRegistryText(const OptionTree& tree);
// Parses the text form. Returns false when any line could not be read (the
// file is damaged); everything readable is still put into `out`, and values
// whose data could not be read are entered as unreadable. `problems` receives
// one line per defect.
bool ParseRegistryText(const std::string& text, OptionTree& out, std::vector<std::string>* problems);

class FileOptionStore : public OptionStore {
 public:
  using Reporter = std::function<void(const std::string&)>;

  // Reads the file now (a missing file is an empty store), creating its
  // folder when needed. A damaged file is kept aside and repaired here.
  // `reporter` receives the messages meant for the user; by default they go
  // to the process-wide message sink (standard error unless a host set one).
  explicit FileOptionStore(std::string path, Reporter reporter = {});
  ~FileOptionStore() override;

  ValueStatus ReadInteger(const std::string& key, const std::string& name, int32_t& out) override;
  ValueStatus ReadString(const std::string& key, const std::string& name, std::string& out) override;
  void CreateKey(const std::string& key) override;
  bool WriteInteger(const std::string& key, const std::string& name, int32_t value) override;
  bool WriteString(const std::string& key, const std::string& name, const std::string& value) override;
  void BeginUpdate() override { ++depth_; }
  bool EndUpdate() override;

  const std::string& Path() const { return path_; }
  // Where the damaged file was kept, when the constructor found one.
  const std::string& DamagedCopy() const { return damagedCopy_; }
  // False once a write has failed (the store then runs from memory).
  bool Persistent() const { return !writeFailed_; }
  // Why the file at Path() was refused when last read ("" when it was read
  // or is missing).
  const std::string& ReadProblem() const { return refusal_; }

 private:
  struct Pending {
    std::string key, name;
    bool keyOnly = false;
    OptionValue value;
  };
  struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    long long mtimeNs = -1;
    bool operator==(const FileStamp&) const = default;
  };

  void Queue(Pending p);
  bool Flush();
  void RefreshIfChanged();
  FileStamp Stamp() const;
  // Reads and parses the file; false when damaged.
  bool ReadFile(OptionTree& tree, bool& exists, std::vector<std::string>* problems) const;
  // Moves the damaged file aside; returns the new name or "".
  std::string KeepDamagedAside(std::string* error);
  void Report(const std::string& message);

  std::string path_;
  Reporter reporter_;
  OptionTree tree_;
  std::vector<Pending> pending_;
  int depth_ = 0;
  bool writeFailed_ = false;
  bool reportedWriteFailure_ = false;
  std::string damagedCopy_;
  mutable std::string refusal_;
  FileStamp stamp_;
};

// The store at DefaultRegistryPath().
std::unique_ptr<OptionStore> OpenDefaultOptionStore();

}  // namespace tarvo
