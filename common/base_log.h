#pragma once
// Placeholder until the logging module lands.
namespace com::mivo::kmr::client {
enum NuvexiaLogLevel { LOG_LEVEL_DEBUG = 0, LOG_LEVEL_INFO = 1, LOG_LEVEL_WARN = 2, LOG_LEVEL_ERROR = 3 };
}
