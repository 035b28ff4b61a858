#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "controller/client/files/ClipFileHost.h"
#include "controller/client/files/FileTransfers.h"
#include "controller/client/files/ReceiveFolder.h"
#include "controller/client/link/SessionChannel.h"
#include "controller/platform/Clipboard.h"
#include "runtime/Scheduler.h"
#include "runtime/ThrottledLog.h"

namespace dovrel::controller {

// Moves copied files between this computer's clipboard and the agent's during a session.
// Outward: files copied here are offered to the agent by name and size under a new generation; a pull
// is answered from the file thread, read as it is sent. Inward: an offer within the limits and the
// disk's free space is pulled at once into the receive folder (one offer's folder at a time), and when
// every file has arrived the complete ones are put on the clipboard as copied files. A file that comes
// outside its declared size, short, or cannot be written is removed at once; the window is told which
// files could not be received and why. Offers are taken at most every `offerSpacing`: one that comes
// sooner waits, replaced by any newer one, so a flood of offers costs one folder and a few lines of
// log. The session's end closes and removes whatever was still arriving. Main thread: create, call and
// destroy it there.
class ClipboardFileHost final : public QObject, public ClipFileHost {
public:
    static constexpr Duration pollInterval = std::chrono::milliseconds(700);
    static constexpr Duration offerSpacing = std::chrono::milliseconds(500);

    // `report` is where the window hears of files that could not be received.
    ClipboardFileHost(Clipboard& clipboard, SessionChannel& channel, FileTransfers& transfers, ReceiveFolder& folder,
                      FileTransferReport& report, Scheduler& clock);
    ~ClipboardFileHost() override;

    // From the session's start to its end; a start takes what is on the clipboard now as seen.
    void start();
    void stop();
    bool running() const { return timer_ != nullptr; }

    // One look at the clipboard (the poll's step).
    void pollLocalClipboard();

    void onRemoteOffer(uint32_t generation, const std::vector<wex::ClipFileEntry>& files) override;
    void onPull(uint32_t generation, uint8_t index) override;
    void onData(uint32_t generation, uint8_t index, uint64_t offset, const wex::Bytes& data, bool last) override;

    // The generation of the last local offer (0 before the first).
    uint32_t localGeneration() const { return gen_; }
    bool receiving() const { return recvActive_; }

private:
    struct RecvFile {
        WriteFile file;
        uint64_t size = 0;
        uint64_t written = 0;
        bool done = false;
        std::string failure; // why it was given up, in words for the window; empty while it is fine
    };
    void beginReceive(uint32_t generation, const std::vector<wex::ClipFileEntry>& files);
    // Gives up one file: its bytes go at once, and it counts as done.
    void fail(RecvFile& recv, std::string why);
    void finishReceive();
    // Ends the receive under way, removing what it wrote.
    void abandonReceive();

    Clipboard& clipboard_;
    SessionChannel& channel_;
    FileTransfers& transfers_;
    ReceiveFolder& folder_;
    FileTransferReport& report_;
    Scheduler& clock_;
    std::unique_ptr<Timer> timer_;
    // The agent decides how many offers and pieces come: only a few lines a second about them are logged.
    ThrottledLog offerLines_;
    ThrottledLog dataLines_;

    // The offer that came too soon after the last one taken, waiting for its turn.
    struct HeldOffer {
        uint32_t generation = 0;
        std::vector<wex::ClipFileEntry> files;
    };
    std::optional<HeldOffer> held_;
    std::unique_ptr<Timer> heldTimer_;
    std::optional<Instant> lastOfferAt_;

    // Local offers: only the latest generation can be pulled.
    std::map<uint32_t, std::vector<std::string>> offered_;
    uint32_t gen_ = 0;
    uint64_t lastChange_ = 0;

    // The remote offer being received.
    uint32_t recvGen_ = 0;
    std::vector<RecvFile> recvFiles_;
    bool recvActive_ = false;
    std::size_t recvRemaining_ = 0;
};

} // namespace dovrel::controller
