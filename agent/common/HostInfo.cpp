#include "agent/common/HostInfo.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace dovrel::agent {

namespace {

std::string readText(const char* path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string unquote(std::string v) {
    while (!v.empty() && (v.back() == '\r' || v.back() == ' ' || v.back() == '\t')) v.pop_back();
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return v;
}

} // namespace

std::string hostDisplayName() {
    std::istringstream info(readText("/etc/machine-info"));
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("PRETTY_HOSTNAME=", 0) == 0) {
            const std::string name = unquote(line.substr(16));
            if (!name.empty()) return name;
        }
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0]) return host;
    return "Computer";
}

} // namespace dovrel::agent
