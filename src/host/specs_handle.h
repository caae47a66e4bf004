// The clip's record as the host hands it over: a movable block that may be
// shorter than 256 bytes when it holds an older format.
#pragma once

#include "platform/host_services.h"
#include "types/specs.h"

namespace tarvo {

// Brings the record in `specs` of format 69, 70 or 71 up to 72, step by step.
// A format-69 record is shorter than 256 bytes; its block is grown with
// SetHandleSize first (the new bytes are zero). Returns true when anything
// changed. Returns false without change for any other version, and when the
// block cannot be grown (out of memory).
bool UpgradeSpecs(Handle specs, HostServices& host);

}  // namespace tarvo
