#pragma once

#include <mutex>

#include "client/client_interface.h"
#include "client/message_handle.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// The library's entry: configuration, log sink, and the one client of the
// process.
//
//   auto* factory = ClientFactory::Instance();
//   factory->SetConfig("zel.conf");           // optional
//   factory->RegistLogHandle(&my_sink);       // optional
//   ClientInterface* client = factory->CreateClient(&my_handler);
//   client->LoginByServiceDiscovery(user, password, ip, port, {});
//   client->SubscribeByDatatype(...);
//   ...
//   ClientFactory::Uninstance();              // stops and destroys the client
//
// Instance, CreateClient and Uninstance may be called from any thread, but
// never from inside a callback: Uninstance waits for the library's threads.
class ZEL_API ClientFactory {
public:
    static ClientFactory* Instance();
    // Destroys the client (if any) and the factory; harmless when repeated.
    static void Uninstance();

    // Reads a key=value configuration file; a null or empty path does nothing.
    void SetConfig(const char* path);
    // Registers the process log sink (not owned); null keeps the previous one.
    void RegistLogHandle(LogInterface* log_handle);
    // The process's client, created on the first call with this handler
    // (which must outlive the client); later calls return the same client
    // and ignore their handler. Null for a null handler or when the TLS set-up
    // fails (a later call tries again).
    ClientInterface* CreateClient(MessageHandle* message_handle);

private:
    ClientFactory() = default;
    ~ClientFactory() = default;
    ClientFactory(const ClientFactory&) = delete;
    ClientFactory& operator=(const ClientFactory&) = delete;

    static ClientFactory* s_factory;
    static ClientInterface* s_client;
    static std::mutex s_factory_mutex;
    static std::mutex s_handler_mutex;
};

}  // namespace com::mivo::kmr::client
