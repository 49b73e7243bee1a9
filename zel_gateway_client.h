#pragma once

// The whole exported interface of the zel gateway client library.

#include "client/client_interface.h"
#include "client/discovery_client.h"
#include "client/message_handle.h"
#include "client/node_map.h"
#include "client/server_host.h"
#include "common/base_log.h"
#include "common/zel_export.h"
