#include "agent/common/ThreadName.h"

#include <pthread.h>
#include <string>

namespace dovrel::agent {

void nameCurrentThread(std::string_view label) {
    const std::string name(label.substr(0, 15));
    ::pthread_setname_np(::pthread_self(), name.c_str());
}

} // namespace dovrel::agent
