#pragma once

namespace dovrel {

// Gives the calling thread an alternate signal stack of its own, once; it is freed when the thread
// ends. A crash handler installed with SA_ONSTACK runs on it, so that a thread whose own stack
// overflowed still gets its report written: without one, the kernel cannot deliver the signal and the
// process dies without a word. A thread that already has an alternate stack keeps it. Every thread the
// programs start calls this first; calling it again on the same thread does nothing.
void armSignalStack();

} // namespace dovrel
