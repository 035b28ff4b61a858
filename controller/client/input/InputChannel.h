#pragma once

#include <cstdint>

#include <QSizeF>
#include <QString>

#include "protocol/Bytes.h"
#include "protocol/SessionCmd.h"

namespace dovrel::controller {

// What the sending side of remote input needs of the session client. Main thread.
//
// Sessions are named by a number that changes with every established session and is 0 while none
// exists. Everything sent names the session it was meant for and is dropped when that session is no
// longer the current one, so input made for one session never reaches the next.
class InputChannel {
public:
    virtual ~InputChannel() = default;

    // The current session's number; 0 without one.
    virtual uint64_t inputSession() const = 0;
    // Seals one input batch's payload on the input stream and sends it (relay stream or UDP datagram),
    // after everything sent before it.
    virtual void sendInputPayload(uint64_t session, wex::Bytes payload) = 0;
    // A session command (request identifier 0, argument 0) on the control stream.
    virtual void sendSessionCommand(uint64_t session, wex::SessionCmd command) = 0;
    // Publishes the display streamed from now and asks the agent for it.
    virtual void switchDisplay(int index) = 0;
    // The remote picture's size as last published; 0 x 0 before the first picture.
    virtual QSizeF remoteSize() const = 0;
    // Pictures shown per second as last published; 0 before the first second.
    virtual int fps() const = 0;
    // Replaces the published status line.
    virtual void showStatus(const QString& status) = 0;
};

} // namespace dovrel::controller
