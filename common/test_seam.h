#pragma once

#include <chrono>

namespace com::mivo::kmr::client {

// The library's fixed pauses (5 s between discovery servers, the heartbeat
// period, ...) are meant for users. Tests link the static layers and may
// shrink them here; the shared library does not export this class, so a
// host program cannot reach it.
class TestSeam {
public:
    // Every fixed pause is divided by this; 1 (the default) keeps them whole.
    static void SetTimeDivisor(int divisor);
    static int GetTimeDivisor();

    // A fixed pause as the library should wait it now.
    static std::chrono::milliseconds Scaled(std::chrono::milliseconds pause);

    // Sleeps for the scaled pause.
    static void Sleep(std::chrono::milliseconds pause);
};

}  // namespace com::mivo::kmr::client
