#pragma once
#include "b/y.h"
