// Forwarding header, kept only until its last includer uses types/rounding.h.
// New code includes types/rounding.h.
#pragma once

#include "types/rounding.h"
