#include "record_source.h"

#include <filesystem>

#include "scene_access.h"
#include "text_encoding.h"
#include "types/specs_fields.h"
#include "util/specs_file.h"

namespace tarvo::cli {

bool LoadClipRecord(ClipHost& clip, const std::string& recordPath, const ProjectFile* project,
                    const std::string& clipPath, std::string* error) {
  std::error_code ec;
  if (!recordPath.empty() && std::filesystem::exists(recordPath, ec)) {
    TSpecs s;
    if (!ReadSpecsFile(recordPath, s, error)) return false;
    clip.SetRecord(s);
    return true;
  }
  if (project) {
    if (auto s = project->Find(clipPath)) clip.SetRecord(*s);
  }
  return true;
}

bool SaveClipRecord(const ClipHost& clip, const std::string& recordPath, ProjectFile* project,
                    const std::string& projectPath, const std::string& clipPath, std::string* error) {
  const auto rec = clip.Record();
  if (!rec) return true;
  if (!recordPath.empty() && !WriteSpecsFile(recordPath, *rec, error)) return false;
  if (project) {
    project->Put(clipPath, *rec);
    if (!project->Save(projectPath, error)) return false;
  }
  return true;
}

bool LoadSceneInto(TSpecs& record, const std::string& name, const std::string& pluginFile, std::string* error) {
  auto scenes = SceneAccess::Open(pluginFile, error);
  if (!scenes) return false;
  TSpecs scene;
  if (!scenes->Get(name, scene, error)) return false;
  ApplyScene(record, scene);
  return true;
}

bool ApplyUserAssignment(TSpecs& record, const std::string& assignment, std::string* error) {
  // In a newer format a field may live elsewhere: changing the bytes this
  // version would change could damage the record.
  if (IsNewerSpecsVersion(record.Version)) {
    if (error)
      *error = "the record is of format " + std::to_string(record.Version) + ", newer than this version knows (" +
               std::to_string(kSpecsVersion) + "); its fields cannot be changed here";
    return false;
  }
  if (assignment.rfind("SceneName=", 0) == 0) {
    std::string stored;
    if (!Utf8ToCp1252(assignment.substr(10), stored, error)) return false;
    return ApplyFieldAssignment(record, "SceneName=" + stored, error);
  }
  return ApplyFieldAssignment(record, assignment, error);
}

void PrepareFilterEnvironment(const std::string& pluginFile) { RecordInstallPath(pluginFile); }

}  // namespace tarvo::cli
