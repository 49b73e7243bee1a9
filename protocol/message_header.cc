#include "protocol/message_header.h"

#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

void MessageHeader::WriteTo(char* out) const {
    out[0] = static_cast<char>(m_version);
    out[1] = static_cast<char>(m_protocol);
    WireOrder::WriteInt16(out + 2, m_flags);
    WireOrder::WriteInt32(out + 4, m_metaLength);
    WireOrder::WriteInt32(out + 8, m_payloadLength);
}

void MessageHeader::ReadFrom(const char* in) {
    m_version = static_cast<int8_t>(in[0]);
    m_protocol = static_cast<int8_t>(in[1]);
    m_flags = WireOrder::ReadInt16(in + 2);
    m_metaLength = WireOrder::ReadInt32(in + 4);
    m_payloadLength = WireOrder::ReadInt32(in + 8);
}

std::string MessageHeader::ToString() const {
    return "MessageHeader: m_version: " + std::to_string(m_version) +
           ", m_protocol: " + std::to_string(m_protocol) + ", m_flags: " + std::to_string(m_flags) +
           ", m_metaLength: " + std::to_string(m_metaLength) +
           ", m_payloadLength: " + std::to_string(m_payloadLength);
}

}  // namespace com::mivo::kmr::client
