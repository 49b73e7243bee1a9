#pragma once

#include <functional>
#include <map>

#include "client/server_host.h"

namespace com::mivo::kmr::client {

// Nodes of one site type by priority, highest first. emplace/insert keep the
// first host given for a priority.
using SiteNodeMap = std::map<int, ServerHost, std::greater<int>>;

// The node table: site type (ascending) to its nodes.
using DatafeedNodeMap = std::map<int, SiteNodeMap>;

}  // namespace com::mivo::kmr::client
