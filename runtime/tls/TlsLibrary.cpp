#include "runtime/tls/TlsLibrary.h"

#include <openssl/crypto.h>

namespace dovrel {

void leaveTlsLibraryToProcessEnd() { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); }

} // namespace dovrel
