#include "project_file.h"

#include <cstring>
#include <filesystem>
#include <sstream>

#include "util/atomic_file.h"
#include "util/file_read.h"

namespace tarvo::cli {
namespace {

constexpr char kMagic[] = "tarvo-project 1";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ProjectFile::ClipKey(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  return ec ? path : abs.string();
}

bool ProjectFile::Load(const std::string& path, std::string* error) {
  clips_.clear();
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
      return bad("expected 'clip PATH' or 'record HEX'");
    }
  }
  if (!sawMagic && n > 0) {
    if (error) *error = "project '" + path + "' is not a tarvo project file";
    return false;
  }
  return true;
}

bool ProjectFile::Save(const std::string& path, std::string* error) const {
  std::ostringstream out;
  out << kMagic << "\n";
  static const char* digits = "0123456789abcdef";
  for (const auto& [clip, specs] : clips_) {
    out << "clip " << clip << "\nrecord ";
    const auto* b = reinterpret_cast<const uint8_t*>(&specs);
    for (int i = 0; i < kSpecsSize; ++i) out << digits[b[i] >> 4] << digits[b[i] & 15];
    out << "\n";
  }
  const std::string text = out.str();
  return WriteFileAtomically(path, text.data(), text.size(), error);
}

std::optional<TSpecs> ProjectFile::Find(const std::string& clip) const {
  auto it = clips_.find(ClipKey(clip));
  if (it == clips_.end()) return std::nullopt;
  return it->second;
}

void ProjectFile::Put(const std::string& clip, const TSpecs& specs) { clips_[ClipKey(clip)] = specs; }

}  // namespace tarvo::cli
