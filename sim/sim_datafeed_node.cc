#include "sim/sim_datafeed_node.h"

#include <algorithm>

#include <event2/buffer.h>
#include <event2/event.h>

#include "SysHeartbeat.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "protocol/nuvexia_message_impl.h"
#include "sim/sim_account_book.h"
#include "sim/sim_feed_session.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_request_text.h"
#include "sim/sim_universe.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::LoginRequest;
using com::mivo::zel::model::LoginResponse;
using com::mivo::zel::model::SubscribeRequest;
using com::mivo::zel::model::SubscribeResponse;
using com::mivo::zel::model::SysHeartbeat;

namespace {

// Firehose pushes keep this much queued so the kernel never waits for us.
constexpr size_t kFirehoseQueue = 4 * SimServer::kLowWaterMark;
// A rate-driven connection whose client lags this far behind gets nothing new until it catches up.
constexpr size_t kRateBacklog = 8 * 1024 * 1024;

}  // namespace

SimDatafeedNode::SimDatafeedNode(SimNodeSpec desc, SimContext* context)
    : SimServer(desc.name, desc.endpoint, context),
      m_spec(std::move(desc)),
      m_feed(context->options.feed),
      m_factory(std::make_unique<SimRecordFactory>(*context->universe)),
      m_scratch(evbuffer_new()) {}

SimDatafeedNode::~SimDatafeedNode() {
    Stop();
}

SimNodeSpec SimDatafeedNode::Describe() const {
    SimNodeSpec desc = m_spec;
    desc.endpoint = Endpoint();
    return desc;
}

void SimDatafeedNode::SetFeedOptions(const SimFeedOptions& options) {
    {
        std::lock_guard<std::mutex> lock(m_feed_mutex);
        m_feed = options;
    }
    PostAndWait([this, options] {
        for (SimConnection* connection : Connections()) {
            auto* session = static_cast<SimFeedSession*>(connection->State());
            if (session != nullptr && session->m_cursor) {
                session->m_cursor->SetOptions(options);
                Restart(*connection, *session);
            }
        }
    });
}

SimFeedOptions SimDatafeedNode::FeedOptions() const {
    std::lock_guard<std::mutex> lock(m_feed_mutex);
    return m_feed;
}

int SimDatafeedNode::IdleTimeoutMs() const {
    return Context().options.datafeed_idle_ms;
}

void SimDatafeedNode::OnConnectionOpened(SimConnection& connection) {
    connection.SetState(std::make_unique<SimFeedSession>(this, &connection));
}

void SimDatafeedNode::OnConnectionClosing(SimConnection& connection) {
    if (auto* session = static_cast<SimFeedSession*>(connection.State())) {
        session->StopTimer();
    }
}

void SimDatafeedNode::OnFrame(SimConnection& connection, const SimFrame& frame) {
    auto* session = static_cast<SimFeedSession*>(connection.State());
    switch (frame.meta.sysmessagetype()) {
        case com::mivo::zel::model::LOGIN_REQUEST:
            HandleLogin(connection, *session, frame);
            break;
        case com::mivo::zel::model::HEARTBEAT_REQUEST:
            HandleHeartbeat(connection, frame);
            break;
        case com::mivo::zel::model::SUBSCRIBE_REQUEST:
            HandleSubscribe(connection, *session, frame);
            break;
        default:
            LogRequest(connection, frame, "unexpected message type; ignored");
            break;
    }
}

void SimDatafeedNode::HandleLogin(SimConnection& connection, SimFeedSession& session, const SimFrame& frame) {
    LoginRequest request;
    std::string refusal;
    if (NuvexiaMessage::DecodeRequestPayload(frame.payload, frame.payload_length, request) != 0) {
        LogRequest(connection, frame, "undecodable login request");
        refusal = "login request not decodable";
    } else {
        LogRequest(connection, frame, SimRequestText::Redacted(request));
        if (Faults().refuse_login) {
            refusal = "login refused by the service";
        } else if (request.logintype() != com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DATAFEED) {
            refusal = "wrong login type for datafeed: " + std::to_string(request.logintype());
        } else if (!request.has_uwt() || request.uwt().username().empty() || request.uwt().token().empty()) {
            refusal = "user name and token required";
        } else {
            auto state = Context().accounts->CheckToken(request.uwt().username(), request.uwt().token());
            if (state != SimAccountBook::TokenState::kValid) {
                refusal = SimAccountBook::TokenStateText(state);
            }
        }
    }
    LoginResponse response;
    if (!refusal.empty()) {
        response.set_issuccess(false);
        response.mutable_errorcontext()->set_errorcode(401);
        response.mutable_errorcontext()->set_message(refusal);
        Counters().logins_refused++;
        SendResponse(connection, com::mivo::zel::model::LOGIN_RESPONSE, frame.meta.traceid(), response);
        return;
    }
    session.m_logged_in = true;
    session.m_user = request.uwt().username();
    response.set_issuccess(true);
    response.mutable_accountinfo()->set_username(session.m_user);
    Counters().logins_accepted++;
    SendResponse(connection, com::mivo::zel::model::LOGIN_RESPONSE, frame.meta.traceid(), response);
}

void SimDatafeedNode::HandleHeartbeat(SimConnection& connection, const SimFrame& frame) {
    SysHeartbeat request;
    if (NuvexiaMessage::DecodeRequestPayload(frame.payload, frame.payload_length, request) != 0) {
        LogRequest(connection, frame, "undecodable heartbeat");
    } else {
        LogRequest(connection, frame, SimRequestText::Redacted(request));
    }
    Counters().heartbeats_received++;
    if (Faults().mute_heartbeat) {
        return;
    }
    Counters().heartbeats_answered++;
    SendResponse(connection, com::mivo::zel::model::HEARTBEAT_RESPONSE, "", SysHeartbeat());
}

void SimDatafeedNode::HandleSubscribe(SimConnection& connection, SimFeedSession& session,
                                      const SimFrame& frame) {
    SubscribeRequest request;
    SubscribeResponse response;
    if (NuvexiaMessage::DecodeRequestPayload(frame.payload, frame.payload_length, request) != 0) {
        LogRequest(connection, frame, "undecodable subscribe request");
        response.mutable_errorcontext()->set_message("subscribe request not decodable");
    } else {
        LogRequest(connection, frame, SimRequestText::Redacted(request));
        switch (request.subscribeactiontype()) {
            case com::mivo::zel::model::COVERAGE:
                Counters().subscribe_coverage++;
                break;
            case com::mivo::zel::model::ADD:
                Counters().subscribe_add++;
                break;
            case com::mivo::zel::model::DECREASE:
                Counters().subscribe_decrease++;
                break;
            case com::mivo::zel::model::CANCEL:
                Counters().subscribe_cancel++;
                break;
            default:
                break;
        }
        if (!session.m_logged_in) {
            response.mutable_errorcontext()->set_message("not logged in");
        } else if (Faults().refuse_subscribe || Faults().TakeSubscribeRefusal()) {
            response.mutable_errorcontext()->set_message("subscription refused by the service");
        } else {
            const std::string user = session.m_user;
            SimAccountBook* accounts = Context().accounts;
            session.m_subscription.Apply(
                request, *Context().universe,
                [accounts, &user](int data_type) { return accounts->IsEntitled(user, data_type); },
                &response);
        }
    }
    if (!response.issuccess()) {
        response.set_issuccess(false);
        response.mutable_errorcontext()->set_errorcode(403);
        Counters().subscribe_refused++;
    }
    SendResponse(connection, com::mivo::zel::model::SUBSCRIBE_RESPONSE, frame.meta.traceid(), response);
    if (response.issuccess()) {
        Restart(connection, session);
    }
}

void SimDatafeedNode::Restart(SimConnection& connection, SimFeedSession& session) {
    const SimFeedOptions options = FeedOptions();
    if (!session.m_cursor) {
        session.m_cursor = std::make_unique<SimFeedCursor>(*Context().universe, *m_factory, options);
    }
    session.m_cursor->SetStreams(session.m_subscription.Streams(*Context().universe));
    session.StopTimer();
    if (!session.m_cursor->HasStreams()) {
        return;
    }
    if (options.records_per_second > 0) {
        session.m_rate_start = std::chrono::steady_clock::now();
        session.m_rate_base = session.m_cursor->Produced();
        session.m_rate_timer.reset(event_new(Base(), -1, EV_PERSIST, &SimDatafeedNode::RateTick, &session));
        const int tick_ms = std::max(1, std::min(options.tick_ms, 1000));
        timeval tick{tick_ms / 1000, (tick_ms % 1000) * 1000};
        event_add(session.m_rate_timer.get(), &tick);
    }
    Pump(connection, session);
}

void SimDatafeedNode::RateTick(evutil_socket_t, short, void* arg) {
    auto* session = static_cast<SimFeedSession*>(arg);
    session->m_node->Pump(*session->m_connection, *session);
}

void SimDatafeedNode::OnWritable(SimConnection& connection) {
    auto* session = static_cast<SimFeedSession*>(connection.State());
    if (session != nullptr && session->m_rate_timer == nullptr) {
        Pump(connection, *session);
    }
}

void SimDatafeedNode::Pump(SimConnection& connection, SimFeedSession& session) {
    if (!session.m_logged_in || !session.m_cursor || session.m_cursor->Exhausted() ||
        connection.IsClosing()) {
        return;
    }
    const std::string trace_id = OutgoingTraceId("");
    auto send = [&](int64_t max_records) {
        const int split = Faults().split_write_bytes;
        evbuffer* direct = connection.DirectOutput(split);
        SimFeedCursor::Output output = session.m_cursor->Produce(direct != nullptr ? direct : m_scratch.get(),
                                                                 max_records, 256 * 1024, trace_id);
        if (direct == nullptr) {
            connection.WriteBuffer(m_scratch.get(), split);
        }
        Counters().records_sent += output.records;
        Counters().frames_sent += output.frames;
        Counters().compressed_frames_sent += output.compressed_frames;
        Counters().bytes_sent += output.bytes;
        return output.records;
    };
    if (session.m_rate_timer == nullptr) {
        while (!session.m_cursor->Exhausted() && connection.PendingOutput() < kFirehoseQueue) {
            if (send(1 << 20) == 0) {
                break;
            }
        }
        return;
    }
    if (connection.PendingOutput() > kRateBacklog) {
        return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - session.m_rate_start).count();
    const double rate = session.m_cursor ? FeedOptions().records_per_second : 0;
    int64_t due = static_cast<int64_t>(rate * seconds) - (session.m_cursor->Produced() - session.m_rate_base);
    while (due > 0 && !session.m_cursor->Exhausted()) {
        int64_t sent = send(due);
        if (sent == 0) {
            break;
        }
        due -= sent;
    }
    connection.WriteNow();
}

}  // namespace com::mivo::kmr::client
