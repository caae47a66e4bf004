#include "project_file.h"

#include <cstring>
#include <filesystem>
#include <sstream>

#include "util/atomic_file.h"
#include "util/file_lock.h"
#include "util/file_read.h"

namespace tarvo::cli {
namespace {

constexpr char kMagic[] = "tarvo-project 1";
constexpr char kHexDigits[] = "0123456789abcdef";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsControl(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return c < 0x20 || c == 0x7F;
}

bool NeedsEscapes(const std::string& path) {
  for (char c : path)
    if (IsControl(c)) return true;
  return false;
}

std::string Escape(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (IsControl(c)) {
      const auto b = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

}  // namespace

std::string ProjectFile::ClipKey(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  return ec ? path : abs.string();
}

bool ProjectFile::Load(const std::string& path, std::string* error) {
  clips_.clear();
  changed_.clear();
  file_ = path;
  std::vector<uint8_t> bytes;
  std::string why;
  const ReadStatus status = ReadStoredFile(path, kMaxProjectFileSize, bytes, &why);
  if (status == ReadStatus::Missing) return true;
  if (status != ReadStatus::Ok) {
    if (error) *error = "cannot read the project: " + why;
    return false;
  }
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line, clip;
  int n = 0;
  bool sawMagic = false;
  auto bad = [&](const std::string& why) {
    if (error) *error = "project '" + path + "' line " + std::to_string(n) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!sawMagic) {
      if (line != kMagic) return bad("not a tarvo project file");
      sawMagic = true;
      continue;
    }
    if (line.rfind("clip ", 0) == 0) {
      clip = line.substr(5);
      if (clip.empty()) return bad("empty clip name");
    } else if (line.rfind("clip-escaped ", 0) == 0) {
      if (!Unescape(line.substr(13), clip)) return bad("unreadable escape in the clip name");
      if (clip.empty()) return bad("empty clip name");
    } else if (line.rfind("record ", 0) == 0) {
      if (clip.empty()) return bad("record without a clip line before it");
      const std::string hex = line.substr(7);
      if (hex.size() != 2 * kSpecsSize) return bad("a record needs exactly 512 hex digits");
      TSpecs s;
      auto* b = reinterpret_cast<uint8_t*>(&s);
      for (int i = 0; i < kSpecsSize; ++i) {
        const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return bad("not a hex digit in the record");
        b[i] = static_cast<uint8_t>(hi * 16 + lo);
      }
      clips_[clip] = s;
      clip.clear();
    } else {
      return bad("expected 'clip PATH', 'clip-escaped PATH' or 'record HEX'");
    }
  }
  if (!sawMagic && n > 0) {
    if (error) *error = "project '" + path + "' is not a tarvo project file";
    return false;
  }
  return true;
}

bool ProjectFile::Save(const std::string& path, std::string* error) {
  std::map<std::string, TSpecs> merged;
  std::optional<FileSaveLock> lock;
  if (path == file_) {
    // Other programs may have saved their clips since we read the file.
    lock.emplace(path);
    ProjectFile onDisk;
    if (!onDisk.Load(path, error)) return false;
    merged = std::move(onDisk.clips_);
    for (const std::string& clip : changed_) merged[clip] = clips_.at(clip);
  } else {
    merged = clips_;
  }
  std::ostringstream out;
  out << kMagic << "\n";
  for (const auto& [clip, specs] : merged) {
    if (NeedsEscapes(clip)) out << "clip-escaped " << Escape(clip);
    else out << "clip " << clip;
    out << "\nrecord ";
    const auto* b = reinterpret_cast<const uint8_t*>(&specs);
    for (int i = 0; i < kSpecsSize; ++i) out << kHexDigits[b[i] >> 4] << kHexDigits[b[i] & 15];
    out << "\n";
  }
  const std::string text = out.str();
  if (!WriteFileAtomically(path, text.data(), text.size(), error)) return false;
  clips_ = std::move(merged);
  changed_.clear();
  file_ = path;
  return true;
}

std::optional<TSpecs> ProjectFile::Find(const std::string& clip) const {
  auto it = clips_.find(ClipKey(clip));
  if (it == clips_.end()) return std::nullopt;
  return it->second;
}

void ProjectFile::Put(const std::string& clip, const TSpecs& specs) {
  const std::string key = ClipKey(clip);
  clips_[key] = specs;
  changed_.insert(key);
}

}  // namespace tarvo::cli
