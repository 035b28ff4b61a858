#include "runtime/SignalStack.h"

#include <csignal>
#include <cstddef>
#include <sys/mman.h>
#include <unistd.h>

namespace dovrel {

namespace {

// Room for the handler's backtrace and its writes, with a guard page below so that a handler that
// overran it faults instead of writing over other memory.
constexpr std::size_t stackBytes = 64 * 1024;

class ThreadSignalStack {
public:
    ThreadSignalStack() {
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* area = ::mmap(nullptr, stackBytes + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area == MAP_FAILED) return;
        ::mprotect(area, page, PROT_NONE);
        stack_t ss{};
        ss.ss_sp = static_cast<char*>(area) + page;
        ss.ss_size = stackBytes;
        if (::sigaltstack(&ss, nullptr) != 0) {
            ::munmap(area, stackBytes + page);
            return;
        }
        area_ = area;
        size_ = stackBytes + page;
    }
    ~ThreadSignalStack() {
        if (!area_) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(area_, size_);
    }
    ThreadSignalStack(const ThreadSignalStack&) = delete;
    ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

private:
    void* area_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace

void armSignalStack() { static thread_local ThreadSignalStack stack; }

} // namespace dovrel
