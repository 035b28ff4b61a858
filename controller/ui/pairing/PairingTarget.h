#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "controller/client/session/Phase.h"
#include "controller/services/Device.h"
#include "controller/services/PairLink.h"

namespace dovrel::controller {

// Where the pairing screen hands its one result: the window's root, which saves the machine and opens
// the session. Main thread.
class PairingTarget {
public:
    virtual ~PairingTarget() = default;

    virtual void connectLAN(const QString& host, const QString& name, const QString& code, Device::Kind kind) = 0;
    virtual void connectRelay(const QString& deviceId, const QString& name, const QString& code, Device::Kind kind,
                              const std::optional<QString>& account, const std::optional<QString>& token,
                              const std::optional<QString>& relay) = 0;
    // A pairing link (pasted or claimed): on the local network first when it names a host, through the
    // relay when it names only a device identifier or the host does not answer.
    virtual void connectLink(const PairLink& link) = 0;
    // Back to the deck, leaving any session as it is.
    virtual void cancelPairing() = 0;
    // The window shows the pairing screen now: an answer that comes later than that is dropped.
    virtual bool pairingShown() const = 0;

    // The machine a session was opened with, when it turned out to want the pairing code the session
    // did not bring: the window shows the pairing screen again to ask for it.
    struct CodeWanted {
        QString address; // its host on the local network, or its relay room, as it was dialled
        QString name;
        Device::Kind kind = Device::Kind::linux;
        bool operator==(const CodeWanted&) const = default;
    };
    // While the pairing screen shows to ask for a code: for which machine.
    virtual std::optional<CodeWanted> codeWanted() const = 0;

    // The attempt the screen handed over ended before a session stood (refused, or ended on its way):
    // the screen shows again with what was typed, and says the refusal, if any, where it belongs.
    struct Returned {
        QString refusal; // empty: it was ended, not refused
        RefusedPart part = RefusedPart::none;
        bool operator==(const Returned&) const = default;
    };
    // While the pairing screen shows again after such an attempt: how it ended.
    virtual std::optional<Returned> returned() const = 0;

    // `listener` is called each time the window turns back to the pairing screen about the attempt it
    // handed over (to ask for its code, or after it ended before it stood); the screen may still be on
    // show then, on its way out. One listener; a later one replaces it.
    virtual void onTurnedBack(std::function<void()> listener) = 0;
};

} // namespace dovrel::controller
