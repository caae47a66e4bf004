#include <cstdlib>
#include <memory>

#include "clip_host.h"
#include "commands.h"
#include "plugin_loader.h"
#include "project_file.h"
#include "raw_io.h"
#include "record_source.h"
#include "video_reader.h"

namespace tarvo::cli {

int CmdSetup(const std::vector<std::string>& args) {
  std::string project, record, frameText, plugin, rawSize, error;
  std::vector<std::string> positional;
  ArgScanner a(args);
  while (!a.Done() && error.empty()) {
    if (a.Flag("-h") || a.Flag("--help")) {
      PrintUsage(true);
      return kExitOk;
    }
    if (a.Option("--project", &project, &error) || a.Option("--record", &record, &error) ||
        a.Option("--frame", &frameText, &error) || a.Option("--plugin", &plugin, &error) ||
        a.Option("--raw", &rawSize, &error))
      continue;
    const std::string arg = a.Take();
    if (arg.size() > 1 && arg[0] == '-') error = "unknown option '" + arg + "' for setup";
    else positional.push_back(arg);
  }
  if (error.empty() && positional.size() != 1) error = "setup needs one CLIP";
  long frame = 0;
  if (error.empty() && !frameText.empty()) {
    char* end = nullptr;
    frame = std::strtol(frameText.c_str(), &end, 10);
    if (*end != '\0' || frame < 0) error = "--frame needs a frame number (0 or more), got '" + frameText + "'";
  }
  if (!error.empty()) {
    Complain(error);
    return kExitUsage;
  }
  const std::string clipPath = positional[0];

  std::unique_ptr<FrameSource> source;
  int64_t frames = -1;
  if (!rawSize.empty()) {
    int w = 0, h = 0;
    if (!ParseFrameSize(rawSize, w, h, &error)) {
      Complain("--raw: " + error);
      return kExitUsage;
    }
    auto r = std::make_unique<RawReader>();
    if (!r->Open(clipPath, w, h, &error)) {
      Complain(error);
      return kExitError;
    }
    frames = r->frameCount();
    source = std::move(r);
  } else {
    auto v = std::make_unique<VideoReader>();
    if (!v->Open(clipPath, &error)) {
      Complain(error);
      return kExitError;
    }
    frames = v->info().frameCount;
    source = std::move(v);
  }
  if (frames > 0 && frame >= frames) {
    Complain("--frame " + std::to_string(frame) + " is past the clip's last frame (" + std::to_string(frames - 1) + ")");
    return kExitUsage;
  }
  PluginLibrary* lib = LoadPlugin(plugin, &error);
  if (!lib) {
    Complain(error);
    return kExitError;
  }
  ProjectFile proj;
  if (!project.empty() && !proj.Load(project, &error)) {
    Complain(error);
    return kExitError;
  }
  ClipHost clip(lib->entry(), ProjectFile::ClipKey(clipPath));
  clip.SetTotal(frames > 0 ? static_cast<int32_t>(frames) : 0);
  // Setup renders no frames of its own, so the callback can use this reader.
  clip.SetFrameSource(source.get());
  if (!LoadClipRecord(clip, record, project.empty() ? nullptr : &proj, clipPath, &error)) {
    Complain(error);
    return kExitError;
  }
  const int32_t result = clip.Setup(static_cast<int32_t>(frame));
  if (result != kSetupOk) {
    Complain("setup ended without OK; the record is unchanged");
    return kExitError;
  }
  if (record.empty() && project.empty()) {
    Complain("setup done, but the record is not kept anywhere: give --record FILE or --project FILE");
    return kExitOk;
  }
  if (!SaveClipRecord(clip, record, project.empty() ? nullptr : &proj, project, clipPath, &error)) {
    Complain(error);
    return kExitError;
  }
  return kExitOk;
}

}  // namespace tarvo::cli
