#include "file_identity.h"

#include <sys/stat.h>

#include <filesystem>

namespace tarvo::cli {
namespace {

bool IsNullDevice(const struct stat& st) {
  struct stat null {};
  return S_ISCHR(st.st_mode) && ::stat("/dev/null", &null) == 0 && st.st_rdev == null.st_rdev;
}

// The absolute path a new file would get: dangling links on the way are
// followed, as creating the file would.
std::string ResolveNewPath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return {};
  for (int hops = 0; hops < 40; ++hops) {
    const fs::path dir = fs::weakly_canonical(p.parent_path(), ec);
    if (ec) return {};
    p = dir / p.filename();
    if (!fs::is_symlink(fs::symlink_status(p, ec))) break;
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) return {};
    p = target.is_absolute() ? target : dir / target;
  }
  return p.lexically_normal().string();
}

void Describe(FileIdentity& id, const struct stat& st) {
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.nullDevice = IsNullDevice(st);
}

}  // namespace

FileIdentity IdentifyDescriptor(std::string label, int fd) {
  FileIdentity id;
  id.label = std::move(label);
  id.descriptor = fd;
  struct stat st {};
  if (::fstat(fd, &st) == 0) Describe(id, st);
  return id;
}

FileIdentity IdentifyPath(std::string label, const std::string& path) {
  FileIdentity id;
  id.label = std::move(label);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) Describe(id, st);
  else id.resolved = ResolveNewPath(path);
  return id;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  if (a.descriptor >= 0 && a.descriptor == b.descriptor) return true;
  // Everything written to the null device is lost anyway.
  if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino && !(a.nullDevice && b.nullDevice);
  return !a.exists && !b.exists && !a.resolved.empty() && a.resolved == b.resolved;
}

std::string FirstSameFile(const std::vector<FileIdentity>& ids) {
  for (size_t i = 1; i < ids.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (SameFile(ids[j], ids[i])) return ids[i].label + " is the same file as " + ids[j].label;
  return {};
}

}  // namespace tarvo::cli
