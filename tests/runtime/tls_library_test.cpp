// OpenSSL left standing to the end of the process: a thread that spoke TLS and is still ending as the
// program exits frees its share of the library into a library that is still there. Before, the
// library's exit-time clean-up freed it first, and the thread's end wrote into freed memory, or (a
// moment later) found its share no longer known and left it behind, which the sanitizers report.
#include <atomic>
#include <cstdlib>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include "runtime/tls/TlsLibrary.h"

namespace {

std::atomic<bool> exiting{false}, threadEnded{false}, spoke{false};
pthread_key_t heldKey, endedKey;
int mark = 1;

// Thread-specific values' destructors run in the order their keys were made: the first holds the
// thread's end back until the program exits, the last tells that OpenSSL's own, in between, has run.
void holdTheEnd(void*) {
    for (int i = 0; i < 5000 && !exiting; ++i)
        ::usleep(1000);
}
void endedNow(void*) { threadEnded = true; }
// Made before the library registers its clean-up at exit, so it runs after that clean-up.
void lastAtExit() {
    exiting = true;
    for (int i = 0; i < 5000 && !threadEnded; ++i)
        ::usleep(1000);
    if (OPENSSL_init_crypto(0, nullptr) != 1) std::_Exit(3); // the library was gone before the thread
}

// As the programs start and end, with one thread of their own that spoke TLS.
[[noreturn]] void aProgramWhoseTlsThreadEndsLate() {
    ::pthread_key_create(&heldKey, holdTheEnd);
    std::atexit(lastAtExit);
    dovrel::leaveTlsLibraryToProcessEnd();
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) std::_Exit(2);
    ::pthread_key_create(&endedKey, endedNow); // after the library's own keys
    std::thread([] {
        ::pthread_setspecific(heldKey, &mark);
        ::pthread_setspecific(endedKey, &mark);
        unsigned char mine[16];
        if (RAND_bytes(mine, sizeof mine) == 1) spoke = true; // the thread's own share of the library
    }).detach();
    while (!spoke)
        ::usleep(1000);
    std::exit(0);
}

} // namespace

TEST(TlsLibrary, AThreadStillEndingAsTheProgramExitsFreesItsShareIntoALibraryStillThere) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) aProgramWhoseTlsThreadEndsLate();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
