// Every test program ends as the programs do: a thread of a test's that spoke TLS may still be ending
// as the program exits (runtime/tls/TlsLibrary.h).
#include "runtime/tls/TlsLibrary.h"

namespace {
[[maybe_unused]] const bool tlsLeftToProcessEnd = (dovrel::leaveTlsLibraryToProcessEnd(), true);
} // namespace
