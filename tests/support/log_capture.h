#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/base_log.h"
#include "common/log_interface.h"

namespace com::mivo::kmr::client {

// Collects every log message of the process while it is registered.
class LogCapture : public LogInterface {
public:
    LogCapture() { SetLogHandle(this); }
    ~LogCapture() override { SetLogHandle(nullptr); }

    void LogPrint(NuvexiaLogLevel level, const char* message) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.emplace_back(level, message != nullptr ? message : "");
    }

    // Messages that contain the text.
    int Count(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count_if(m_lines.begin(), m_lines.end(), [&](const auto& line) {
            return line.second.find(text) != std::string::npos;
        }));
    }
    int Count(NuvexiaLogLevel level, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count_if(m_lines.begin(), m_lines.end(), [&](const auto& line) {
            return line.first == level && line.second.find(text) != std::string::npos;
        }));
    }
    // Index of the first message at or after from that contains the text, or -1.
    int Find(const std::string& text, int from = 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = static_cast<size_t>(from); i < m_lines.size(); ++i) {
            if (m_lines[i].second.find(text) != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // Waits (without a deadline of its own beyond the generous limit) until
    // the text has been logged count times.
    bool WaitFor(const std::string& text, int count = 1,
                 std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Count(text) < count) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::vector<std::pair<NuvexiaLogLevel, std::string>> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // Whether a message at the level reads exactly text.
    bool HasLine(NuvexiaLogLevel level, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const auto& line) { return line.first == level && line.second == text; });
    }
    // The first message that starts with prefix, or "" (with found false).
    std::string LineStartingWith(const std::string& prefix, bool* found = nullptr) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& line : m_lines) {
            if (line.second.compare(0, prefix.size(), prefix) == 0) {
                if (found != nullptr) {
                    *found = true;
                }
                return line.second;
            }
        }
        if (found != nullptr) {
            *found = false;
        }
        return "";
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> out;
        for (const auto& line : m_lines) {
            out.push_back(line.second);
        }
        return out;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<NuvexiaLogLevel, std::string>> m_lines;
};

}  // namespace com::mivo::kmr::client
