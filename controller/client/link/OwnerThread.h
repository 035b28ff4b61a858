#pragma once

#include <QThread>

namespace dovrel::controller {

// The thread an object was made on, which alone may use it: the parts of the client are made on
// "dovrel.client" and each of their entry points says so by calling check() first.
class OwnerThread {
public:
    // Ends the process with a line naming `function` when called on any other thread: state of an
    // owner touched from elsewhere is a race that must not go unnoticed. Always checked.
    void check(const char* function) const;

private:
    QThread* thread_ = QThread::currentThread();
};

} // namespace dovrel::controller
