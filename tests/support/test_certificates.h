#pragma once

#include <string>

namespace com::mivo::kmr::client::testing {

// A throwaway CA and server certificate in a fresh temporary folder, removed again on destruction.
class TestCertificates {
public:
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const std::string& Folder() const { return m_folder; }
    std::string CaFile() const;
    std::string CertFile() const;
    std::string KeyFile() const;

private:
    std::string m_folder;
    std::string m_error;
};

}  // namespace com::mivo::kmr::client::testing
