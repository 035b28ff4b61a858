#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "controller/client/link/OwnerThread.h"
#include "protocol/Bytes.h"
#include "protocol/ControlMessages.h"
#include "protocol/ControlType.h"
#include "protocol/FileMessages.h"
#include "runtime/Scheduler.h"
#include "runtime/ThrottledLog.h"

namespace dovrel::controller {

// The agent's control messages of an established session: each becomes news for the interface, or a
// call back into the client for what changes its own state (a pong, the agent's goodbye). A message
// that does not decode changes nothing. Handshake messages have no place in a session: one that comes
// (a second handshake, perhaps from another identity, that would have the client prove itself again
// and trust a new key) is dropped, and the first of each session is logged. Client thread only.
class ControlDispatch {
public:
    // What the agent's messages tell the interface.
    struct Displays {
        std::vector<wex::DisplayInfo> list;
        int streaming = 0; // the index of the one being streamed
    };
    struct AgentError {
        std::string text;                     // what to show
        std::optional<wex::ErrorMsg> message; // none when it did not decode
    };
    struct ClipboardText {
        std::string text;
    };
    struct ClipFilePull {
        uint32_t generation = 0;
        uint8_t index = 0;
    };
    using News = std::variant<Displays, AgentError, wex::DeckStat, ClipboardText, wex::ClipFilesOffer, ClipFilePull,
                              wex::ClipFileData>;

    // What the dispatch asks of the client.
    class Host {
    public:
        virtual ~Host() = default;
        // Tells the interface, in the order the messages came.
        virtual void publish(News news) = 0;
        virtual void pongArrived(wex::ByteView payload) = 0;
        // The agent ended the session; `text` says why.
        virtual void endedByAgent(std::string_view text) = 0;
    };

    // `clock` paces the log lines the agent's messages cause.
    ControlDispatch(Host& host, Scheduler& clock);
    ControlDispatch(const ControlDispatch&) = delete;
    ControlDispatch& operator=(const ControlDispatch&) = delete;

    void dispatch(wex::ControlType type, const wex::Bytes& payload);
    // A session was established: what is logged once a session may be logged again.
    void sessionStarted();

private:
    void handleDisplayList(wex::ByteView payload);
    void handleBye(wex::ByteView payload);
    void handleAgentError(wex::ByteView payload);
    void handleDeckStat(wex::ByteView payload);
    void handleClipFileMessage(wex::ControlType type, wex::ByteView payload);
    void handleClipboard(wex::ByteView payload);

    Host& host_;
    OwnerThread thread_;
    // The agent can send errors as fast as it likes: only a few a second are logged.
    ThrottledLog errorLines_;
    bool handshakeLogged_ = false;
};

} // namespace dovrel::controller
