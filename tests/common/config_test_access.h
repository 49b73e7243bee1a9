#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/base_config.h"

namespace com::mivo::kmr::client {

// Returns the process-wide settings to their built-in state between tests.
class BaseConfigTestAccess {
public:
    static void Reset() {
        BaseConfig& config = BaseConfig::GetInstance();
        config.m_properties.clear();
        config.m_config_file_path.clear();
        config.InitConfig();
    }
    static bool Parse(const char* path) { return BaseConfig::GetInstance().ParseConfigFile(path); }
    static size_t TableSize() { return BaseConfig::GetInstance().m_properties.size(); }
    static std::string Table(const std::string& key) {
        return BaseConfig::GetInstance().m_properties.at(key);
    }
};

}  // namespace com::mivo::kmr::client

// A scratch folder under the system's temp folder, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/zel_common_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~TempFolder() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    const std::string& Path() const { return m_path; }
    std::string Write(const std::string& name, const std::string& content) const {
        std::string file = m_path + "/" + name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::string m_path;
};
