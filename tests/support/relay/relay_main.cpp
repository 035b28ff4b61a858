// dovrel-test-relay: the relay service's double for tests. Registers agents and controllers by room
// over TLS, optionally asks agents to prove their key or sends them to another node, and splices one
// controller to each agent registration. Prints one event a line on standard output, the first being
// "listening port=N".
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <QCoreApplication>

#include "tests/support/relay/RelayServer.h"

using namespace dovrel::test::relay;

namespace {

bool writePortFile(const std::string& path, uint16_t port) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << '\n';
        if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    return !ec;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = RelayOptions::parse(args, error);
    if (!options) {
        std::cerr << "dovrel-test-relay: " << error << '\n' << RelayOptions::usage();
        return 2;
    }
    const auto tls = loadServerTls(options->certFile, options->keyFile, error);
    if (!tls) {
        std::cerr << "dovrel-test-relay: " << error << '\n';
        return 2;
    }
    RelayServer server(*options, *tls);
    if (!server.listen(error)) {
        std::cerr << "dovrel-test-relay: cannot listen: " << error << '\n';
        return 1;
    }
    if (!options->portFile.empty() && !writePortFile(options->portFile, server.port())) {
        std::cerr << "dovrel-test-relay: cannot write " << options->portFile << '\n';
        return 1;
    }
    emitEvent("listening port=" + std::to_string(server.port()));
    return app.exec();
}
