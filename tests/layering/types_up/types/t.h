#pragma once
#include "util/u.h"
