// Descriptions of the plug-in's parameter list for hosts and readers: the MLT
// metadata file and the table in README, both made from the parameter list.
#pragma once

#include <string>
#include <vector>

#include "types/specs.h"
#include "params.h"
#include "types/specs_fields.h"

namespace tarvo::frei0r {

// The content of filter_frei0r.tarvo.yml.
std::string MetadataYaml();
// The frei0r values the metadata lists for a choice or bit-set field, one per
// field value from min to max (empty for other fields).
std::vector<std::string> MetadataValues(const SpecsField& f);
// The effect description Kdenlive reads from its effects folder
// (frei0r_tarvo.xml): titles, ranges in the record's units, lists, check
// boxes, a file picker for the record, keyframes for the numeric settings.
std::string KdenliveEffectXml();
// A Markdown table of the parameters: index, name, type, setting, range in
// the record's units, default (record value = frei0r value).
std::string ParameterTableMarkdown();

// The filter_params text for FFmpeg's frei0r filter that sets every
// parameter to the settings of `specs`: values separated by '|' in parameter
// order, the record and scene empty, booleans y/n, doubles with 17 digits,
// the field order by name.
std::string FfmpegParams(const TSpecs& specs, FieldOrder order = FieldOrder::Progressive);

}  // namespace tarvo::frei0r
