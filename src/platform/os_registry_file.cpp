#include "platform/os_registry_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "util/message_sink.h"
#include "util/atomic_file.h"
#include "util/file_read.h"

namespace tarvo {
namespace {

const char kHeaderLine[] = "Windows Registry Editor Version 5.00";

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return ".";
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && OptionNamesEqual(s.substr(0, prefix.size()), prefix);
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

void Quote(std::string& out, const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at s[pos] == '"'. On success `pos` is just
// past the closing quote.
bool Unquote(const std::string& s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (size_t i = pos + 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s.size()) return false;
      const char n = s[++i];
      if (n == '\\' || n == '"') {
        out += n;
      } else if (n == 'x' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
        out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
        i += 2;
      } else {
        return false;
      }
    } else if (static_cast<unsigned char>(c) < 0x20) {
      return false;  // a raw control character: not our writing
    } else {
      out += c;
    }
  }
  return false;  // no closing quote: the line was cut off
}

bool ParseDword(const std::string& data, int32_t& out) {
  static const char kPrefix[] = "dword:";
  if (!StartsWithNoCase(data, kPrefix)) return false;
  const std::string digits = data.substr(sizeof kPrefix - 1);
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t v = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16u + static_cast<uint32_t>(d);
  }
  std::memcpy(&out, &v, sizeof out);  // the bit pattern of a 32-bit integer
  return true;
}

class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

std::string DefaultRegistryPath() {
  if (const char* p = std::getenv("TARVO_REGISTRY"); p && *p) return p;
  std::string config;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && x[0] == '/') config = x;
  else config = HomeFolder() + "/.config";
  return config + "/tarvo/registry.reg";
}

std::string FormatRegistryText(const OptionTree& tree) {
  std::string out = kHeaderLine;
  out += "\n";
  for (const OptionTree::Key& k : tree.Keys()) {
    out += "\n[";
    out += kOptionRoot;
    out += k.path;
    out += "]\n";
    for (const OptionTree::Value& v : k.values) {
      if (v.value.type == OptionValue::Type::Unreadable) continue;
      Quote(out, v.name);
      out += '=';
      if (v.value.type == OptionValue::Type::Integer) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<uint32_t>(v.value.integer));
        out += buf;
      } else {
        Quote(out, v.value.text);
      }
      out += '\n';
    }
  }
  return out;
}

bool ParseRegistryText(const std::string& text, OptionTree& out, std::vector<std::string>* problems) {
  bool ok = true;
  auto problem = [&](size_t lineNo, const std::string& what) {
    ok = false;
    if (problems) problems->push_back("line " + std::to_string(lineNo) + ": " + what);
  };
  const std::string rootPrefix = std::string(kOptionRoot);
  std::string key;
  bool inKey = false;
  size_t lineNo = 0;
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte-order mark from an editor
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line == kHeaderLine || line == "REGEDIT4") continue;
    if (line[0] == '[') {
      inKey = false;
      if (line.back() != ']') {
        problem(lineNo, "key line without closing bracket");
        continue;
      }
      const std::string full = line.substr(1, line.size() - 2);
      if (!StartsWithNoCase(full, rootPrefix) ||
          (full.size() > rootPrefix.size() && full[rootPrefix.size()] != '\\')) {
        problem(lineNo, "key outside " + rootPrefix);
        continue;
      }
      key = full.substr(rootPrefix.size());
      out.EnsureKey(key);
      inKey = true;
      continue;
    }
    if (line[0] == '"') {
      size_t pos = 0;
      std::string name;
      if (!Unquote(line, pos, name) || pos >= line.size() || line[pos] != '=') {
        problem(lineNo, "unreadable value name");
        continue;
      }
      if (!inKey) {
        problem(lineNo, "value outside any key");
        continue;
      }
      const std::string data = line.substr(pos + 1);
      OptionValue v;
      size_t dpos = 0;
      std::string s;
      if (ParseDword(data, v.integer)) {
        v.type = OptionValue::Type::Integer;
      } else if (Unquote(data, dpos, s) && dpos == data.size()) {
        v.type = OptionValue::Type::String;
        v.text = s;
      } else {
        v.type = OptionValue::Type::Unreadable;
        v.text = data;
        problem(lineNo, "unreadable data of value \"" + name + "\"");
      }
      out.Set(key, name, v);
      continue;
    }
    problem(lineNo, "unreadable line");
  }
  return ok;
}

FileOptionStore::FileOptionStore(std::string path, Reporter reporter)
    : path_(std::move(path)), reporter_(std::move(reporter)) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);

  bool exists = false;
  std::vector<std::string> problems;
  if (ReadFile(tree_, exists, &problems)) {
    stamp_ = Stamp();
    if (!refusal_.empty()) {
      Report("the options file cannot be read: " + refusal_ +
             "; running with the default options, nothing is written to it");
      writeFailed_ = true;
      reportedWriteFailure_ = true;
    }
    return;
  }
  // Damaged. Under the lock, look again (another process may have repaired
  // it meanwhile), keep the damaged file aside and write what could be read.
  FileLock lock(path_);
  OptionTree again;
  problems.clear();
  if (ReadFile(again, exists, &problems)) {
    tree_ = std::move(again);
    stamp_ = Stamp();
    return;
  }
  tree_ = std::move(again);
  std::string error;
  damagedCopy_ = KeepDamagedAside(&error);
  std::string message = "the options file '" + path_ + "' is damaged (" + problems.front() + ")";
  if (damagedCopy_.empty()) {
    Report(message + "; it could not be kept aside: " + error + "; unreadable values take their defaults");
    writeFailed_ = true;
    reportedWriteFailure_ = true;
    return;
  }
  const std::string text = FormatRegistryText(tree_);
  if (!WriteFileAtomically(path_, text.data(), text.size(), &error)) {
    Report(message + "; kept it as '" + damagedCopy_ + "' but could not write a repaired one: " + error);
    writeFailed_ = true;
    reportedWriteFailure_ = true;
    return;
  }
  stamp_ = Stamp();
  Report(message + "; kept it as '" + damagedCopy_ + "', unreadable values take their defaults");
}

FileOptionStore::~FileOptionStore() = default;

void FileOptionStore::Report(const std::string& message) {
  if (reporter_) reporter_(message);
  else ReportToProcess(Notice::Message, message);
}

FileOptionStore::FileStamp FileOptionStore::Stamp() const {
  FileStamp s;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
}

bool FileOptionStore::ReadFile(OptionTree& tree, bool& exists, std::vector<std::string>* problems) const {
  std::vector<uint8_t> bytes;
  std::string error;
  exists = false;
  const ReadStatus status = ReadStoredFile(path_, kMaxOptionsFileSize, bytes, &error);
  // A file that is there but cannot be read (a directory, a pipe, a huge
  // file, no permission) is not ours to replace: the store then runs on its
  // defaults in memory and writes nothing until the file can be read again.
  refusal_ = (status == ReadStatus::Ok || status == ReadStatus::Missing) ? std::string() : error;
  if (status != ReadStatus::Ok) return true;  // missing: an empty store
  exists = true;
  const std::string text(bytes.begin(), bytes.end());
  return ParseRegistryText(text, tree, problems);
}

std::string FileOptionStore::KeepDamagedAside(std::string* error) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
  // A linked options file: the file at the link's end is kept aside and
  // repaired, the link stays.
  std::string file;
  if (!ResolveWriteTarget(path_, file, error)) return "";
  std::string target = file + ".damaged-" + stamp;
  for (int n = 2; ::access(target.c_str(), F_OK) == 0; ++n)
    target = file + ".damaged-" + stamp + "-" + std::to_string(n);
  if (::rename(file.c_str(), target.c_str()) != 0) {
    if (error) *error = std::strerror(errno);
    return "";
  }
  return target;
}

void FileOptionStore::RefreshIfChanged() {
  if (Stamp() == stamp_) return;
  OptionTree fresh;
  bool exists = false;
  ReadFile(fresh, exists, nullptr);
  if (!refusal_.empty()) {
    // Something that cannot be read took the file's place: keep the values
    // read before rather than fall back to defaults.
    stamp_ = Stamp();
    return;
  }
  // Changes not yet written stay on top of what the file holds now.
  for (const Pending& p : pending_) {
    if (p.keyOnly) fresh.EnsureKey(p.key);
    else fresh.Set(p.key, p.name, p.value);
  }
  tree_ = std::move(fresh);
  stamp_ = Stamp();
}

ValueStatus FileOptionStore::ReadInteger(const std::string& key, const std::string& name, int32_t& out) {
  RefreshIfChanged();
  return ReadIntegerFrom(tree_, key, name, out);
}

ValueStatus FileOptionStore::ReadString(const std::string& key, const std::string& name, std::string& out) {
  RefreshIfChanged();
  return ReadStringFrom(tree_, key, name, out);
}

void FileOptionStore::Queue(Pending p) {
  if (p.keyOnly) tree_.EnsureKey(p.key);
  else tree_.Set(p.key, p.name, p.value);
  for (Pending& q : pending_)
    if (q.keyOnly == p.keyOnly && OptionNamesEqual(q.key, p.key) && OptionNamesEqual(q.name, p.name)) {
      q = std::move(p);
      return;
    }
  pending_.push_back(std::move(p));
}

void FileOptionStore::CreateKey(const std::string& key) {
  if (tree_.FindKey(key)) return;
  Pending p;
  p.key = key;
  p.keyOnly = true;
  Queue(std::move(p));
  if (depth_ == 0) Flush();
}

bool FileOptionStore::WriteInteger(const std::string& key, const std::string& name, int32_t value) {
  Pending p;
  p.key = key;
  p.name = name;
  p.value.type = OptionValue::Type::Integer;
  p.value.integer = value;
  Queue(std::move(p));
  return depth_ > 0 || Flush();
}

bool FileOptionStore::WriteString(const std::string& key, const std::string& name, const std::string& value) {
  Pending p;
  p.key = key;
  p.name = name;
  p.value.type = OptionValue::Type::String;
  p.value.text = value;
  Queue(std::move(p));
  return depth_ > 0 || Flush();
}

bool FileOptionStore::EndUpdate() {
  if (depth_ > 0) --depth_;
  return depth_ > 0 || Flush();
}

bool FileOptionStore::Flush() {
  if (pending_.empty()) return !writeFailed_;
  FileLock lock(path_);
  // Merge into the file as it is now, so that values another process wrote
  // since we read it are kept.
  OptionTree merged;
  bool exists = false;
  std::vector<std::string> problems;
  const bool readable = ReadFile(merged, exists, &problems);
  if (!refusal_.empty()) {
    writeFailed_ = true;
    if (!reportedWriteFailure_) {
      reportedWriteFailure_ = true;
      Report("cannot save options: " + refusal_ + "; running with the values in memory");
    }
    return false;
  }
  if (!readable) {
    std::string error;
    const std::string aside = KeepDamagedAside(&error);
    if (!aside.empty())
      Report("the options file '" + path_ + "' was damaged (" + problems.front() + "); kept it as '" + aside + "'");
  }
  for (const Pending& p : pending_) {
    if (p.keyOnly) merged.EnsureKey(p.key);
    else merged.Set(p.key, p.name, p.value);
  }
  const std::string text = FormatRegistryText(merged);
  std::string error;
  if (!WriteFileAtomically(path_, text.data(), text.size(), &error)) {
    writeFailed_ = true;
    if (!reportedWriteFailure_) {
      reportedWriteFailure_ = true;
      Report("cannot save options: " + error + "; running with the values in memory");
    }
    return false;
  }
  pending_.clear();
  tree_ = std::move(merged);
  stamp_ = Stamp();
  writeFailed_ = false;
  return true;
}

std::unique_ptr<OptionStore> OpenDefaultOptionStore() {
  return std::make_unique<FileOptionStore>(DefaultRegistryPath());
}

}  // namespace tarvo
