// The tarvo command's own readers of outside text: its scene-name conversion
// (record set SceneName=..., record show), which must agree with the
// filter's, and the project file, which must read back what it writes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "project_file.h"
#include "scenes/cp1252.h"
#include "text_encoding.h"
#include "util/atomic_file.h"

using namespace tarvo;

namespace {

std::string TempPath(const char* what) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvo-fuzz-" + what + "-" + std::to_string(::getpid());
}

void CheckNames(const std::string& text) {
  // UTF-8 typed by the user.
  std::string core, cli, coreError, cliError;
  const bool coreOk = Utf8ToCp1252(text, core, &coreError);
  const bool cliOk = cli::Utf8ToCp1252(text, cli, &cliError);
  if (coreOk != cliOk) fuzz::Fail(cliOk ? "the command takes a name the filter refuses" : "the command refuses a name the filter takes");
  if (coreOk && core != cli) fuzz::Fail("the command stores a name differently");
  if (!cliOk && cliError.empty()) fuzz::Fail("refusal without a message");
  // Stored bytes shown to the user.
  if (Cp1252ToUtf8(text) != cli::Cp1252ToUtf8(text)) fuzz::Fail("the command shows a stored name differently");
}

void CheckProject(const std::string& text) {
  const std::string path = TempPath("project"), again = path + ".again";
  if (!WriteFileAtomically(path, text.data(), text.size(), nullptr)) return;
  cli::ProjectFile project;
  std::string error;
  if (project.Load(path, &error)) {
    if (!project.Save(again, &error)) fuzz::Fail("project not saved: " + error);
    std::vector<uint8_t> first, second;
    cli::ProjectFile reread;
    if (!reread.Load(again, &error)) fuzz::Fail("saved project does not load: " + error);
    if (reread.size() != project.size()) fuzz::Fail("saved project lost clips");
    const std::string third = again + ".3";
    if (!reread.Save(third, &error)) fuzz::Fail("project not saved: " + error);
    if (!ReadWholeFile(again, first, nullptr) || !ReadWholeFile(third, second, nullptr) || first != second)
      fuzz::Fail("project changes on a second round");
    std::remove(third.c_str());
    std::remove(again.c_str());
  } else if (error.empty()) {
    fuzz::Fail("damaged project without a message");
  }
  std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  fuzz::FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  if (mode & 1) CheckProject(in.Rest());
  else CheckNames(in.Rest());
  return 0;
}
