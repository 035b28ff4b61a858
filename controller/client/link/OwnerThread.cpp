#include "controller/client/link/OwnerThread.h"

#include <cstdio>
#include <cstdlib>

namespace dovrel::controller {

void OwnerThread::check(const char* function) const {
    if (QThread::currentThread() == thread_) return;
    std::fprintf(stderr, "!! FATAL: %s runs off its owner thread \"%s\"\n", function,
                 thread_->objectName().toStdString().c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace dovrel::controller
