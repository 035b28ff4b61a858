#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QObject>

#include "controller/client/ClipFileHost.h"
#include "controller/client/FileTransfers.h"
#include "controller/client/ReceiveFolder.h"
#include "controller/client/SessionChannel.h"
#include "controller/platform/Clipboard.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Moves copied files between this computer's clipboard and the agent's during a session.
// Outward: files copied here are offered to the agent by name and size under a new generation; a pull
// is answered from the file thread, read as it is sent. Inward: an offer within the limits is pulled at
// once into a private folder, and when every file has arrived the complete ones are put on the
// clipboard as copied files. Main thread: create, call and destroy it there.
class ClipboardFileHost final : public QObject, public ClipFileHost {
public:
    static constexpr Duration pollInterval = std::chrono::milliseconds(700);

    ClipboardFileHost(Clipboard& clipboard, SessionChannel& channel, FileTransfers& transfers, ReceiveFolder& folder,
                      Scheduler& clock);
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
    };
    void finishReceive();

    Clipboard& clipboard_;
    SessionChannel& channel_;
    FileTransfers& transfers_;
    ReceiveFolder& folder_;
    Scheduler& clock_;
    std::unique_ptr<Timer> timer_;

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
