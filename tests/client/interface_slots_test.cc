// Host programs are built against the published headers, so the order of the
// virtual slots is part of the binary interface: a reordered callback would
// call the wrong function in an already built host.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "client/client_interface.h"
#include "client/message_handle.h"

namespace com::mivo::kmr::client {
namespace {

// With the Itanium C++ ABI a pointer to a virtual member function holds one
// plus the byte offset of its vtable entry; the virtual destructor fills the
// first two entries (complete and deleting), so slot n sits at entry n + 1.
template <typename MemberFunction>
long SlotOf(MemberFunction function) {
    struct Representation {
        std::uintptr_t ptr;
        std::ptrdiff_t adjustment;
    };
    static_assert(sizeof(MemberFunction) == sizeof(Representation), "unexpected member pointer layout");
    Representation rep;
    std::memcpy(&rep, &function, sizeof(rep));
    if ((rep.ptr & 1) == 0) {
        return -1;  // not virtual
    }
    return static_cast<long>((rep.ptr - 1) / sizeof(void*)) - 1;
}

TEST(InterfaceSlots, MessageHandleCallbacksKeepTheirOrder) {
    EXPECT_EQ(SlotOf(&MessageHandle::OnSubscribeResponse), 1);
    EXPECT_EQ(SlotOf(&MessageHandle::OnBridgeData), 2);
    EXPECT_EQ(SlotOf(&MessageHandle::OnMarketData), 3);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDiscoverySuccess), 4);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDiscoveryFailed), 5);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDiscoveryResponse), 6);
    EXPECT_EQ(SlotOf(&MessageHandle::OnNoDiscoveryServices), 7);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDatafeedNodeSuccess), 8);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDatafeedNodeFailed), 9);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDataServiceSuccess), 10);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDataServiceFailed), 11);
    EXPECT_EQ(SlotOf(&MessageHandle::OnLoginDataServiceResponse), 12);
    EXPECT_EQ(SlotOf(&MessageHandle::OnDisconnected), 13);
    EXPECT_EQ(SlotOf(&MessageHandle::ProcessMessage), -1);
}

TEST(InterfaceSlots, ClientAndLogInterfacesKeepTheirOrder) {
    EXPECT_EQ(SlotOf(&ClientInterface::LoginByServiceDiscovery), 1);
    EXPECT_EQ(SlotOf(&ClientInterface::SubscribeByDatatype), 2);
    EXPECT_EQ(SlotOf(&ClientInterface::SubscribeById), 3);
    EXPECT_TRUE(std::is_abstract<ClientInterface>::value);
    EXPECT_EQ(SlotOf(&LogInterface::LogPrint), 1);
    EXPECT_FALSE(std::is_abstract<MessageHandle>::value);
    EXPECT_TRUE(std::has_virtual_destructor<MessageHandle>::value);
}

}  // namespace
}  // namespace com::mivo::kmr::client
