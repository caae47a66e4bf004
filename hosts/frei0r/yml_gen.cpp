// Writes the MLT metadata of the frei0r filter (filter_frei0r.tarvo.yml) from
// the adapter's parameter list, so that editors show titles, ranges and units
// without a second hand-written copy of the list.
//   tarvo_frei0r_yml OUTPUT.yml      the metadata file
//   tarvo_frei0r_yml --markdown      the parameter table for README
//   tarvo_frei0r_yml --kdenlive OUTPUT.xml
//                                    Kdenlive's effect description
//   tarvo_frei0r_yml --ffmpeg-params [FIELD=VALUE...]
//                                    FFmpeg's filter_params for the default
//                                    record with the given fields changed
#include <cstdio>
#include <cstring>
#include <string>

#include "metadata.h"
#include "types/specs_fields.h"
#include "util/atomic_file.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--ffmpeg-params") == 0) {
    tarvo::TSpecs specs = tarvo::BuiltInDefaultSpecs();
    for (int i = 2; i < argc; ++i) {
      std::string error;
      if (!tarvo::ApplyFieldAssignment(specs, argv[i], &error)) {
        std::fprintf(stderr, "tarvo_frei0r_yml: %s\n", error.c_str());
        return 2;
      }
    }
    std::printf("%s\n", tarvo::frei0r::FfmpegParams(specs).c_str());
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--markdown") == 0) {
    std::fputs(tarvo::frei0r::ParameterTableMarkdown().c_str(), stdout);
    return 0;
  }
  const bool kdenlive = argc == 3 && std::strcmp(argv[1], "--kdenlive") == 0;
  if (!kdenlive && (argc != 2 || argv[1][0] == '-')) {
    std::fprintf(stderr, "usage: %s OUTPUT.yml | --kdenlive OUTPUT.xml | --markdown | --ffmpeg-params [FIELD=VALUE...]\n",
                 argv[0]);
    return 2;
  }
  const std::string y = kdenlive ? tarvo::frei0r::KdenliveEffectXml() : tarvo::frei0r::MetadataYaml();
  const char* path = argv[kdenlive ? 2 : 1];
  std::string error;
  if (!tarvo::WriteFileAtomically(path, y.data(), y.size(), &error)) {
    std::fprintf(stderr, "tarvo_frei0r_yml: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
