// The consistency check moved to the public jet/check.h.
#pragma once

#include "jet/check.h"
