#pragma once

#include <fstream>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

enum NuvexiaLogLevel { LOG_LEVEL_DEBUG = 0, LOG_LEVEL_INFO = 1, LOG_LEVEL_WARN = 2, LOG_LEVEL_ERROR = 3 };

class LogInterface;

// printf-style logging. Every message reaches the registered sink; console
// and file see it when its level is at or above the configured severity and
// their switch is on. Lines read
//   "YYYY-MM-DD hh:mm:ss:mmm pid[N] LEVEL: message\n"
// and are written whole, whatever the number of logging threads.
ZEL_API void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
ZEL_API void InfoPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
ZEL_API void WarnPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
ZEL_API void ErrorPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs a message that is already formatted; a null message is ignored.
ZEL_API void BaseLogPrint(const NuvexiaLogLevel& level, const char* message);

// Builds the line and writes it to the targets, without a threshold.
ZEL_API void LogMessageToTargets(const NuvexiaLogLevel& level, const char* message);
// Writes a finished line to file and console as the switches say.
ZEL_API void OutputMessage(const char* line);

// The log file "pid_<pid>.log" in the configured folder, opened (truncated)
// with a banner on first use. Null while another thread opens it or after a
// failed open. Writing to the stream directly bypasses the line locking.
ZEL_API std::ofstream* GetLogOfs();
// Closes the file; the next file line opens it again (truncated).
ZEL_API void CloseLogOfs();

// The sink every message is handed to, on the logging thread; null removes
// it. Not owned. The caller must keep the object alive until it has been
// replaced and no thread can still be inside its LogPrint.
ZEL_API void SetLogHandle(LogInterface* sink);
ZEL_API LogInterface* GetLogHandle();

}  // namespace com::mivo::kmr::client
