#include "test_certificates.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "sim/sim_certificate_maker.h"

namespace com::mivo::kmr::client::testing {

TestCertificates::TestCertificates() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zel-certs-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        m_error = "cannot make a temporary folder";
        return;
    }
    m_folder = pattern;
    SimCertificateMaker::Make(m_folder, &m_error);
}

TestCertificates::~TestCertificates() {
    if (m_folder.empty()) {
        return;
    }
    std::remove(CaFile().c_str());
    std::remove(CertFile().c_str());
    std::remove(KeyFile().c_str());
    rmdir(m_folder.c_str());
}

std::string TestCertificates::CaFile() const {
    return SimCertificateMaker::CaFile(m_folder);
}

std::string TestCertificates::CertFile() const {
    return SimCertificateMaker::CertFile(m_folder);
}

std::string TestCertificates::KeyFile() const {
    return SimCertificateMaker::KeyFile(m_folder);
}

}  // namespace com::mivo::kmr::client::testing
