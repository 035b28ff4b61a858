#include "controller/client/session/ClipboardBinding.h"

#include "controller/client/files/ClipboardFileHost.h"
#include "controller/client/files/ClipboardTextSync.h"
#include "controller/client/session/WEXClient.h"

namespace dovrel::controller {

void bindClipboardToSession(WEXClient& client, ClipboardTextSync& text,
                            const std::shared_ptr<ClipboardFileHost>& files) {
    connectClipFileHost(client, &text, files);
    QObject::connect(&client, &WEXClient::remoteClipboardText, &text,
                     [&text](const std::string& received) { text.applyRemote(received); });
    // Started at each established session (never for a demo), stopped when the session ends.
    QObject::connect(&client, &WEXClient::sessionEstablished, &text, [&text, weak = std::weak_ptr(files)] {
        text.start();
        if (const auto host = weak.lock()) host->start();
    });
    QObject::connect(&client, &WEXClient::phaseChanged, &text, [&client, &text, weak = std::weak_ptr(files)] {
        if (client.phaseKind() == PhaseKind::connected) return;
        text.stop();
        if (const auto host = weak.lock()) host->stop();
    });
}

void connectClipFileHost(WEXClient& client, QObject* context, const std::weak_ptr<ClipFileHost>& host) {
    QObject::connect(&client, &WEXClient::clipFilesOffered, context,
                     [host](uint32_t generation, const std::vector<wex::ClipFileEntry>& files) {
                         if (const auto h = host.lock()) h->onRemoteOffer(generation, files);
                     });
    QObject::connect(&client, &WEXClient::clipFilePulled, context, [host](uint32_t generation, uint8_t index) {
        if (const auto h = host.lock()) h->onPull(generation, index);
    });
    QObject::connect(&client, &WEXClient::clipFileDataArrived, context,
                     [host](uint32_t generation, uint8_t index, uint64_t offset, const wex::Bytes& data, bool last) {
                         if (const auto h = host.lock()) h->onData(generation, index, offset, data, last);
                     });
}

} // namespace dovrel::controller
