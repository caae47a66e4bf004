// Descriptions of the plug-in's parameter list for hosts and readers: the MLT
// metadata file and the table in README, both made from the parameter list.
#pragma once

#include <string>

namespace tarvo::frei0r {

// The content of filter_frei0r.tarvo.yml.
std::string MetadataYaml();
// A Markdown table of the parameters: index, name, type, setting, range in
// the record's units, default (record value = frei0r value).
std::string ParameterTableMarkdown();

}  // namespace tarvo::frei0r
