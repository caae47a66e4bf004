// tarvo frei0r-params: the positional parameter list of the frei0r plug-in
// for FFmpeg's frei0r filter (filter_params), so that settings can be given
// to FFmpeg without a record file beside the command line.
#include <cstdio>

#include "commands.h"
#include "metadata.h"
#include "record_source.h"
#include "util/specs_file.h"

namespace tarvo::cli {

int CmdFrei0rParams(const std::vector<std::string>& args) {
  TSpecs specs = BuiltInDefaultSpecs();
  frei0r::FieldOrder order = frei0r::FieldOrder::Progressive;
  std::vector<std::string> sets;
  std::string error;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--fields" || a == "--record") {
      if (i + 1 >= args.size()) {
        Complain(a + " needs a value");
        return kExitUsage;
      }
      const std::string& value = args[++i];
      if (a == "--fields") {
        if (!frei0r::ParseFieldOrder(value, order)) {
          Complain("--fields must be progressive, tff or bff, got '" + value + "'");
          return kExitUsage;
        }
      } else if (!ReadSpecsFile(value, specs, &error)) {
        Complain(error);
        return kExitError;
      }
    } else if (a.find('=') != std::string::npos && a[0] != '-') {
      sets.push_back(a);
    } else {
      Complain("unknown argument '" + a + "'");
      PrintUsage(false);
      return kExitUsage;
    }
  }
  // Assignments apply over the record, whatever their place on the line.
  for (const std::string& s : sets)
    if (!ApplyUserAssignment(specs, s, &error)) {
      Complain(s + ": " + error);
      return kExitUsage;
    }
  std::printf("%s\n", frei0r::FfmpegParams(specs, order).c_str());
  return kExitOk;
}

}  // namespace tarvo::cli
