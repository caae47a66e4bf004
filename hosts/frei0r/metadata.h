// Descriptions of the plug-in's parameter list for hosts and readers: the MLT
// metadata file and the table in README, both made from the parameter list.
#pragma once

#include <string>

#include "types/specs.h"

namespace tarvo::frei0r {

// The content of filter_frei0r.tarvo.yml.
std::string MetadataYaml();
// A Markdown table of the parameters: index, name, type, setting, range in
// the record's units, default (record value = frei0r value).
std::string ParameterTableMarkdown();

// The filter_params text for FFmpeg's frei0r filter that sets every
// parameter to the settings of `specs`: values separated by '|' in parameter
// order, the strings empty, booleans y/n, doubles with 17 digits.
std::string FfmpegParams(const TSpecs& specs);

}  // namespace tarvo::frei0r
