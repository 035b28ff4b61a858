#pragma once

#include <string>
#include <vector>

#include "agent/core/AccountHost.h"

namespace dovrel::agent {

// Where a session stands, for the face to word.
enum class SessionPhase {
    waiting,    // no controller: the agent waits for one to pair or connect
    connecting, // a connection arrived and has not finished its handshake
    connected,  // a controller is in session
};

// What start-up found out about this computer, once.
struct PairingFacts {
    std::string pairingCode;
    std::string lanIP;
    std::string mac;
    std::string deviceName;
    std::string deviceId;
    std::string pairingLink; // whole, with the code: for the window's QR image only, never a log
};

// What the agent tells its face (the shell): facts and events, never display sentences; the face words
// them. Every call arrives on the main thread, in the order things happened.
class AgentObserver {
public:
    virtual ~AgentObserver() = default;
    virtual void started(const PairingFacts& facts) = 0;
    virtual void pairingLinkChanged(const std::string& code, const std::string& link) = 0;
    virtual void relayAccountChanged(const std::string& account) = 0;
    // `clientName`: the connected controller's name as its Hello gave it (may be empty); empty unless
    // connected.
    virtual void sessionChanged(SessionPhase phase, const std::string& clientName) = 0;
    // A file from the controller: its name and size as text, and the fraction received (1.0: done).
    virtual void fileProgress(const std::string& transfer, double fraction) = 0;
    virtual void restingChanged(bool resting) = 0;
    // Once a second while capturing: the encoded frame rate and the video path.
    virtual void videoReport(int framesPerSecond, const std::string& path) = 0;
    // The account work's state (grants, share code, sign-in).
    virtual void accountChanged(const AccountModelChange& change) = 0;
    // The access-grant lifetime chosen in the window, in hours; 0 for none chosen.
    virtual double grantTTLHours() const = 0;
    // Pairing by code stopped after too many wrong codes (`paused`), with the addresses they came from
    // (an empty one: through the relay); or it goes on again with a new code (`!paused`, no addresses).
    virtual void codePairingPaused(bool paused, const std::vector<std::string>& fromAddresses) = 0;
    // `code` was drawn because the one before it drew too many wrong tries; it arrives with
    // pairingLinkChanged as every new code does.
    virtual void codeDrawnAfterWrongCodes(const std::string& code) = 0;
};

// What the face asks the agent to do. Main thread; each call returns at once and its outcome arrives
// through the AgentObserver.
class AgentCommands {
public:
    virtual ~AgentCommands() = default;
    virtual void disconnectSession() = 0;
    virtual void newGrant(double ttlHours) = 0;
    virtual void cancelAllAccess() = 0;
    virtual void createShareCode() = 0;
    virtual void signIn(const std::string& account, const std::string& password, bool create,
                        const std::string& invite) = 0;
    virtual void signOut() = 0;
    // Rebuilds the pairing link from the current code, address and relay.
    virtual void refreshPairingLink() = 0;
    // The window shows the pairing code from now on, or no longer: codes pair only while it is shown
    // and for a while after.
    virtual void pairingCodeShown(bool shown) = 0;
    // A new pairing code replaces the current one, and pairing by code goes on if it had paused.
    virtual void newPairingCode() = 0;
};

} // namespace dovrel::agent
