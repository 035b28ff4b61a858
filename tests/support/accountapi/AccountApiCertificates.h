#pragma once

#include <filesystem>
#include <string>

namespace dovrel::test {

// PEM files for a loopback TLS server that clients trust only through an authority made for this run.
struct AccountApiCertificates {
    std::string caFile;   // the authority's certificate: what the client is told to trust
    std::string certFile; // the server's certificate (127.0.0.1 and localhost), issued by the authority
    std::string keyFile;  // the server's private key, mode 0600
};

// Makes a fresh P-256 authority and a server certificate it signed, valid from an hour ago for a day, and
// writes ca.pem, server.pem and server.key into `directory`. Throws std::runtime_error on any failure.
AccountApiCertificates makeAccountApiCertificates(const std::filesystem::path& directory);

} // namespace dovrel::test
