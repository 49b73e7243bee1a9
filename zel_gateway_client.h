#pragma once

// The whole exported interface of the zel gateway client library.


#include "common/base_log.h"



#include "common/zel_export.h"
