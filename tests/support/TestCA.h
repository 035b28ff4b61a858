#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dovrel::test {

// PEM files for a TLS server that trusts nothing but a certificate authority made for this test run.
struct TestCertificates {
    std::string caFile;   // the authority's certificate: what clients are told to trust
    std::string certFile; // the server's certificate, issued by the authority
    std::string keyFile;  // the server's private key, mode 0600
};

// Makes a fresh P-256 certificate authority and a server certificate it signed, valid from an hour
// ago for a day, for the given DNS names and IP addresses (subject alternative names), and writes
// ca.pem, server.pem and server.key into `directory`. Throws std::runtime_error on any failure.
TestCertificates makeTestCertificates(const std::filesystem::path& directory,
                                      const std::vector<std::string>& dnsNames = {"localhost"},
                                      const std::vector<std::string>& ipAddresses = {"127.0.0.1"});

} // namespace dovrel::test
