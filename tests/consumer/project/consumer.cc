// An outside program built against the installed package only.
#include <zel_gateway_client.h>

#include <cstdio>

int main() {
    using namespace com::mivo::kmr::client;
    ClientConfig::CloseFileLog();
    InfoPrint("consumer linked against %s", "zel_gateway_client");
    std::printf("version %s\n", ClientConfig::GetAppVersion());
    return 0;
}
