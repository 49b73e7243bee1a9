#pragma once

#include <memory>

#include "common/zel_export.h"

struct event_base;
struct event;
struct bufferevent;
struct evbuffer;
struct evconnlistener;

namespace com::mivo::kmr::client {

// Owners of libevent objects: each frees its object when it goes, so that no
// path out of a function leaves one behind. The bufferevents and events of a
// loop go before the loop itself (declare the loop's owner first).

struct ZEL_API EventBaseFree {
    // Runs the loop once without waiting, then frees it: what a freed
    // bufferevent still had queued is run first, so that it is finalised.
    // Free every event of the loop before: the pass must call back into
    // nothing that is gone.
    void operator()(event_base* base) const;
};

struct ZEL_API EventFree {
    void operator()(event* ev) const;
};

struct ZEL_API BufferEventFree {
    void operator()(bufferevent* bev) const;
};

struct ZEL_API EvBufferFree {
    void operator()(evbuffer* buffer) const;
};

struct ZEL_API ListenerFree {
    void operator()(evconnlistener* listener) const;
};

using EventBaseOwner = std::unique_ptr<event_base, EventBaseFree>;
using EventOwner = std::unique_ptr<event, EventFree>;
using BufferEventOwner = std::unique_ptr<bufferevent, BufferEventFree>;
using EvBufferOwner = std::unique_ptr<evbuffer, EvBufferFree>;
using ListenerOwner = std::unique_ptr<evconnlistener, ListenerFree>;

}  // namespace com::mivo::kmr::client
