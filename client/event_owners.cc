#include "client/event_owners.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/listener.h>

namespace com::mivo::kmr::client {

void EventBaseFree::operator()(event_base* base) const {
    // A bufferevent with deferred callbacks (BEV_OPT_DEFER_CALLBACKS) is
    // held by each callback still queued, and is finalised (socket closed,
    // TLS session freed) only when the loop runs it. bufferevent_free after
    // the loop has stopped leaves it waiting for that run; event_base_free
    // would drop the callback and the bufferevent with it, unfreed.
    event_base_loop(base, EVLOOP_NONBLOCK);
    event_base_free(base);
}

void EventFree::operator()(event* ev) const {
    event_free(ev);
}

void BufferEventFree::operator()(bufferevent* bev) const {
    bufferevent_free(bev);
}

void EvBufferFree::operator()(evbuffer* buffer) const {
    evbuffer_free(buffer);
}

void ListenerFree::operator()(evconnlistener* listener) const {
    evconnlistener_free(listener);
}

}  // namespace com::mivo::kmr::client
