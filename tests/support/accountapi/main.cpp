// dovrel-test-accountapi: the account API double as a program, for end-to-end runs.
//
//   dovrel-test-accountapi --dir DIR [--port N] [--account NAME:PASSWORD]... [--invitation CODE]
//
// Writes its authority and certificate into DIR, listens on 127.0.0.1, prints "port N", "ca FILE" and
// one "token NAME TOKEN" line per account given, then serves until SIGTERM or SIGINT.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "runtime/tls/TlsLibrary.h"
#include "tests/support/accountapi/AccountApiDouble.h"

int main(int argc, char** argv) {
    dovrel::leaveTlsLibraryToProcessEnd(); // the double's thread may still be ending as the program ends
    std::string dir;
    int port = 0;
    std::vector<std::pair<std::string, std::string>> accounts;
    std::string invitation;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--dir") {
            dir = value;
        } else if (flag == "--port") {
            port = std::atoi(value.c_str());
        } else if (flag == "--account" && value.find(':') != std::string::npos) {
            accounts.emplace_back(value.substr(0, value.find(':')), value.substr(value.find(':') + 1));
        } else if (flag == "--invitation") {
            invitation = value;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", flag.c_str());
            return 2;
        }
    }
    if (dir.empty() || port < 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s --dir DIR [--port N] [--account NAME:PASSWORD]... [--invitation CODE]\n",
                     argv[0]);
        return 2;
    }

    // Blocked before any thread starts, so that only sigwait below receives them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    QCoreApplication app(argc, argv);
    try {
        dovrel::test::AccountApiDouble api(dir, static_cast<uint16_t>(port));
        if (!invitation.empty()) api.requireInvitation(invitation);
        std::printf("port %u\nca %s\n", api.port(), api.caFile().c_str());
        for (const auto& [name, password] : accounts)
            std::printf("token %s %s\n", name.c_str(), api.addAccount(name, password).c_str());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stop, &signal);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
