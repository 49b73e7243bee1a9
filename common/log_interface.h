#pragma once

#include "common/base_log.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// A host program's log sink. Every message reaches it, whatever the
// console and file thresholds say; it may be called from any library thread.
class ZEL_API LogInterface {
public:
    virtual ~LogInterface() {}
    virtual void LogPrint(NuvexiaLogLevel level, const char* message) {
        (void)level;
        (void)message;
    }
};

}  // namespace com::mivo::kmr::client
