// Forwarding header, kept only until its last includer uses types/pix_buffer.h.
// New code includes types/pix_buffer.h.
#pragma once

#include "types/pix_buffer.h"
