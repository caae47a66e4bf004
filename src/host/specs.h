// Forwarding header, kept only until its last includer uses types/specs.h.
// New code includes types/specs.h.
#pragma once

#include "types/specs.h"
