// Writes the MLT metadata of the frei0r filter (filter_frei0r.tarvo.yml) from
// the adapter's parameter list, so that editors show titles, ranges and units
// without a second hand-written copy of the list.
//   tarvo_frei0r_yml OUTPUT.yml      the metadata file
//   tarvo_frei0r_yml --markdown      the parameter table for README
#include <cstdio>
#include <cstring>
#include <string>

#include "metadata.h"
#include "util/atomic_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.yml | --markdown\n", argv[0]);
    return 2;
  }
  if (std::strcmp(argv[1], "--markdown") == 0) {
    std::fputs(tarvo::frei0r::ParameterTableMarkdown().c_str(), stdout);
    return 0;
  }
  const std::string y = tarvo::frei0r::MetadataYaml();
  std::string error;
  if (!tarvo::WriteFileAtomically(argv[1], y.data(), y.size(), &error)) {
    std::fprintf(stderr, "tarvo_frei0r_yml: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
