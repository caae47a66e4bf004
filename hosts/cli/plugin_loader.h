// Loads the filter's plug-in library the way a video host does: dlopen, the
// entry point by name, and the description blocks that name the filter.
#pragma once

#include <string>

#include "types/call_record.h"
#include "types/frame_view.h"

namespace tarvo::cli {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Opens the library, finds "xFilter" and "xFilterDescription" and checks the
  // description blocks: a "TYPE" block naming a video filter and a "TEXT" block
  // with the filter's name. False with a message when any of that fails.
  bool Load(const std::string& path, std::string* error);

  XFilterFn entry() const { return entry_; }
  // The entry point that renders our own frames: the library's "xFilterWide"
  // (frames described with their full row stride, up to kMaxOwnFrameWidth
  // wide), or its "xFilter" when it has none (up to kMaxFrameWidth).
  XFilterFn frameEntry() const { return wide_ ? wide_ : entry_; }
  // The largest frame frameEntry() takes.
  int32_t maxFrameWidth() const { return wide_ ? kMaxOwnFrameWidth : kMaxFrameWidth; }
  int32_t maxFrameHeight() const { return wide_ ? kMaxOwnFrameHeight : kMaxFrameHeight; }
  // The library's "xFilterSetMessageSink", or nullptr when it has none (the
  // filter then writes its messages to standard error itself).
  XFilterSetMessageSinkFn setMessageSink() const { return setSink_; }
  const std::string& filterName() const { return name_; }
  const std::string& path() const { return path_; }

 private:
  void* lib_ = nullptr;
  XFilterFn entry_ = nullptr;
  XFilterWideFn wide_ = nullptr;
  XFilterDescriptionFn describe_ = nullptr;
  XFilterSetMessageSinkFn setSink_ = nullptr;
  std::string name_;
  std::string path_;
};

// The name the filter is listed under.
constexpr const char kFilterName[] = "- Tarvo -";

// Where to look for the plug-in when --plugin is not given, in order: the
// environment variable TARVO_PLUGIN, the executable's own folder, the library
// folder of the executable's install prefix, and the plug-in of the build tree
// the command was built in. Returns the first that exists, or "" with the list
// of places tried.
std::string FindDefaultPlugin(std::string* triedPlaces);

}  // namespace tarvo::cli
