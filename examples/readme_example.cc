#include <zel_gateway_client.h>
using namespace com::mivo::kmr::client;
namespace model = com::mivo::zel::model;

struct Handler : MessageHandle {
    void OnMarketData(const model::MarketData& /*md*/) override {
        // Called on a library callback thread; one channel always arrives on the same thread, in order.
    }
    void OnDisconnected(int /*site*/, const std::string& /*node*/) override {
        // The library reconnects by itself.
    }
};

int main() {
    Handler handler;
    ClientFactory::Instance()->SetConfig("./client.conf");  // optional
    ClientInterface* client = ClientFactory::Instance()->CreateClient(&handler);
    if (!client ||
        client->LoginByServiceDiscovery("user", "secret", "10.0.0.1", 9552, {"10.0.0.2:9552"}) != 0)
        return 1;
    model::SubscribeByDataType request;
    request.add_zeldatatypes(1);
    client->SubscribeByDatatype(model::COVERAGE, request);
    // ... run ...
    ClientFactory::Uninstance();  // stops every thread and frees the client
}
