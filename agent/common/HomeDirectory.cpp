#include "agent/common/HomeDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace dovrel::agent {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

} // namespace dovrel::agent
