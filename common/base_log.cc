#include "common/base_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "common/base_config.h"
#include "common/host_call.h"
#include "common/log_interface.h"
#include "common/multi_platform_kits.h"
#include "common/platform.h"

namespace com::mivo::kmr::client {

namespace {

const char* const kLevelNames[] = {"DEBUG", "INFO ", "WARN ", "ERROR"};

const char* LevelName(NuvexiaLogLevel level) {
    int index = static_cast<int>(level);
    return index >= 0 && index < 4 ? kLevelNames[index] : "?????";
}

int ProcessIdAtLoad() {
    static const int pid = MultiPlatformKits::GetInstance()->GetProcessId();
    return pid;
}

// Taken while the library loads, as every line and the file name carry it.
[[maybe_unused]] const int s_load_pid = ProcessIdAtLoad();

std::atomic<LogInterface*> s_sink{nullptr};
std::atomic<std::ofstream*> s_log_ofs{nullptr};
// Guards opening and closing the stream.
std::mutex s_file_mutex;
// Held for each line written to the file, and while the stream is closed,
// so a line is never cut by another line or by CloseLogOfs.
std::mutex s_write_mutex;

const char* const kBanner =
    "\n"
    "  _   _  _   _ __     __ _____ __  __ ___     _    \n"
    " | \\ | || | | |\\ \\   / /| ____|\\ \\/ /|_ _|   / \\   \n"
    " |  \\| || | | | \\ \\ / / |  _|   \\  /  | |   / _ \\  \n"
    " | |\\  || |_| |  \\ V /  | |___  /  \\  | |  / ___ \\ \n"
    " |_| \\_| \\___/    \\_/   |_____|/_/\\_\\|___|/_/   \\_\\\n"
    "\n"
    "                          Version: %2d.%2d.%2d";

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

// Text from peers and hosts may carry line breaks or terminal escapes: one
// message stays one line. Line breaks at the end are dropped, every other
// control character is written as an escape. Null when nothing needs changing.
std::unique_ptr<std::string> EscapedOneLine(const char* message) {
    size_t length = std::strlen(message);
    while (length > 0 && (message[length - 1] == '\n' || message[length - 1] == '\r')) {
        --length;
    }
    bool clean = message[length] == '\0';
    for (size_t i = 0; clean && i < length; ++i) {
        clean = !IsControl(static_cast<unsigned char>(message[i]));
    }
    if (clean) {
        return nullptr;
    }
    auto text = std::make_unique<std::string>();
    text->reserve(length + 16);
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(message[i]);
        if (!IsControl(c)) {
            text->push_back(static_cast<char>(c));
        } else if (c == '\n') {
            text->append("\\n");
        } else if (c == '\r') {
            text->append("\\r");
        } else if (c == '\t') {
            text->append("\\t");
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02x", c);
            text->append(escape);
        }
    }
    return text;
}

void Deliver(NuvexiaLogLevel level, const char* raw_message) {
    const std::unique_ptr<std::string> escaped = EscapedOneLine(raw_message);
    const char* message = escaped ? escaped->c_str() : raw_message;
    LogInterface* sink = s_sink.load(std::memory_order_acquire);
    if (sink != nullptr) {
        HostCall host_call;
        sink->LogPrint(level, message);
    }
    if (BaseConfig::GetInstance().GetLogSeverity() <= static_cast<unsigned>(level)) {
        LogMessageToTargets(level, message);
    }
}

void VLog(NuvexiaLogLevel level, const char* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return;
    }
    const size_t size = static_cast<size_t>(length) + 1;
    std::unique_ptr<char[]> message(new char[size]);
    std::vsnprintf(message.get(), size, format, args);
    Deliver(level, message.get());
}

}  // namespace

#define ZEL_LOG_FUNCTION(name, level)    \
    void name(const char* format, ...) { \
        va_list args;                    \
        va_start(args, format);          \
        VLog(level, format, args);       \
        va_end(args);                    \
    }

ZEL_LOG_FUNCTION(DebugPrint, LOG_LEVEL_DEBUG)
ZEL_LOG_FUNCTION(InfoPrint, LOG_LEVEL_INFO)
ZEL_LOG_FUNCTION(WarnPrint, LOG_LEVEL_WARN)
ZEL_LOG_FUNCTION(ErrorPrint, LOG_LEVEL_ERROR)

#undef ZEL_LOG_FUNCTION

void BaseLogPrint(const NuvexiaLogLevel& level, const char* message) {
    if (message != nullptr) {
        Deliver(level, message);
    }
}

void LogMessageToTargets(const NuvexiaLogLevel& level, const char* message) {
    if (message == nullptr) {
        return;
    }
    platform::LocalTime now = platform::NowLocal();
    char time_text[32];
    std::snprintf(time_text, sizeof(time_text), "%04d-%02d-%02d %02d:%02d:%02d:%03d", now.year, now.month,
                  now.day, now.hour, now.minute, now.second, now.millisecond);
    size_t size = std::strlen(message) + 128;
    std::unique_ptr<char[]> line(new char[size]);
    std::snprintf(line.get(), size, "%s pid[%d] %s: %s\n", time_text, ProcessIdAtLoad(), LevelName(level),
                  message);
    OutputMessage(line.get());
}

void OutputMessage(const char* line) {
    if (line == nullptr) {
        return;
    }
    const BaseConfig& config = BaseConfig::GetInstance();
    size_t length = std::strlen(line);
    if (config.IsFileLog() && GetLogOfs() != nullptr) {
        std::lock_guard<std::mutex> guard(s_write_mutex);
        std::ofstream* ofs = s_log_ofs.load(std::memory_order_acquire);
        if (ofs != nullptr) {  // CloseLogOfs may have run in between
            ofs->write(line, static_cast<std::streamsize>(length));
            ofs->flush();
        }
    }
    if (config.IsCoutLog()) {
        // One stdio call per line: stdio locks the stream for its duration.
        std::fwrite(line, 1, length, stdout);
    }
}

std::ofstream* GetLogOfs() {
    std::ofstream* ofs = s_log_ofs.load(std::memory_order_acquire);
    if (ofs != nullptr) {
        return ofs;
    }
    std::string folder = BaseConfig::GetInstance().GetLogFileOutFolder();
    MultiPlatformKits* kits = MultiPlatformKits::GetInstance();
    if (!kits->FolderExist(folder.c_str()) && !kits->CreateFolder(folder.c_str())) {
        std::printf("Create folder: %s failed, set to default path", folder.c_str());
        folder = "./";
    }
    char file_name[128];
    std::snprintf(file_name, sizeof(file_name), "pid_%d.log", ProcessIdAtLoad());
    std::string path = folder + file_name;

    std::unique_lock<std::mutex> guard(s_file_mutex, std::try_to_lock);
    if (!guard.owns_lock()) {
        return nullptr;  // someone is opening or closing it right now
    }
    ofs = s_log_ofs.load(std::memory_order_acquire);
    if (ofs != nullptr) {
        return ofs;
    }
    auto* stream = new std::ofstream(path, std::ios::out | std::ios::trunc);
    if (!stream->is_open()) {
        // Stays installed so later lines are dropped quietly until CloseLogOfs.
        s_log_ofs.store(stream, std::memory_order_release);
        guard.unlock();
        std::printf("open log file[%s] failed!!\n", path.c_str());
        return nullptr;
    }
    std::unique_ptr<char[]> banner(new char[16384]);
    std::snprintf(banner.get(), 16384, kBanner, 1, 0, 0);
    std::fputs(banner.get(), stdout);
    std::fputc('\n', stdout);
    *stream << std::endl << banner.get() << std::endl;
    s_log_ofs.store(stream, std::memory_order_release);
    guard.unlock();
    std::printf("open log file[%s] successfully!\n", path.c_str());
    return stream;
}

void CloseLogOfs() {
    if (s_log_ofs.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> file_guard(s_file_mutex);
    std::lock_guard<std::mutex> write_guard(s_write_mutex);
    std::ofstream* ofs = s_log_ofs.exchange(nullptr, std::memory_order_acq_rel);
    if (ofs == nullptr) {
        return;
    }
    if (ofs->is_open()) {
        ofs->close();
    }
    delete ofs;
}

void SetLogHandle(LogInterface* sink) {
    s_sink.store(sink, std::memory_order_release);
}

LogInterface* GetLogHandle() {
    return s_sink.load(std::memory_order_acquire);
}

}  // namespace com::mivo::kmr::client
