#pragma once

#include <dirent.h>

#include <thread>

namespace com::mivo::kmr::client::testing {

// Threads of this process.
inline int ThreadCount() {
    // The thread sanitizer's runtime starts a helper thread with the first
    // thread the process creates: have it running before the first count.
    static const bool s_warmed = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)s_warmed;
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            n += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return n;
}

}  // namespace com::mivo::kmr::client::testing
