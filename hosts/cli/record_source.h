// Where a clip's record comes from and goes back to: a record file, a
// project file, a scene of the scene file.
#pragma once

#include <string>

#include "clip_host.h"
#include "project_file.h"

namespace tarvo::cli {

// Gives the clip the record of `recordPath` when that file exists, else the
// project's record for `clipPath` (project may be null), else no record (the
// filter then makes one from its defaults). False with a message when a file
// exists but cannot be read.
bool LoadClipRecord(ClipHost& clip, const std::string& recordPath, const ProjectFile* project,
                    const std::string& clipPath, std::string* error);

// Writes the clip's record to `recordPath` (if given) and into the project
// (if given, saved to projectPath).
bool SaveClipRecord(const ClipHost& clip, const std::string& recordPath, ProjectFile* project,
                    const std::string& projectPath, const std::string& clipPath, std::string* error);

// Loads the scene `name` from the scene file into the record (the record's
// FramePos is kept). False with a message when there is no such scene.
bool LoadSceneInto(TSpecs& record, const std::string& name, const std::string& pluginFile, std::string* error);

// Applies "FIELD=VALUE" as typed by a user: like ApplyFieldAssignment, with
// a SceneName given in UTF-8 and stored in the record's single-byte form.
// A record of a newer format than this version knows is refused unchanged.
bool ApplyUserAssignment(TSpecs& record, const std::string& assignment, std::string* error);

// Sets up what the filter reads at its start-up, before its first call: the
// install path the default scene file location is built from.
void PrepareFilterEnvironment(const std::string& pluginFile);

}  // namespace tarvo::cli
