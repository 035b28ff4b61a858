#pragma once

namespace dovrel {

// Leaves OpenSSL, which Qt's TLS runs on, standing until the process is gone: its own clean-up at exit
// is not run. Qt's threads end detached, so QThread::wait() returns while a thread that spoke TLS (an
// HTTP client's, a relay link's queue) still frees its share of OpenSSL, and the library freeing itself
// as the program ended freed that share too, or the locks under it (a double free, or a write into
// freed memory, as a window closed). The memory goes with the process. Call first in main, before
// anything speaks TLS; later calls change nothing.
void leaveTlsLibraryToProcessEnd();

} // namespace dovrel
