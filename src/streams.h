// The headers that src/streams.* was split into, for a file that still
// includes this one.
#pragma once

#include "file_names.h"
#include "run_log.h"
