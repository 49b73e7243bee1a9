#include "common/host_call.h"

namespace com::mivo::kmr::client {

namespace {

thread_local int t_depth = 0;

}  // namespace

HostCall::HostCall() {
    ++t_depth;
}

HostCall::~HostCall() {
    --t_depth;
}

bool HostCall::Inside() {
    return t_depth > 0;
}

}  // namespace com::mivo::kmr::client
