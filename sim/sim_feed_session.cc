#include "sim/sim_feed_session.h"

#include <event2/event.h>

namespace com::mivo::kmr::client {

SimFeedSession::~SimFeedSession() {
    StopTimer();
}

void SimFeedSession::StopTimer() {
    if (m_rate_timer != nullptr) {
        event_free(m_rate_timer);
        m_rate_timer = nullptr;
    }
}

}  // namespace com::mivo::kmr::client
