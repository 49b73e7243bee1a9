#pragma once

// The callback interface lives with the pipeline that calls it; this name
// stays for host programs that include it from here.
#include "pipeline/message_handle.h"
