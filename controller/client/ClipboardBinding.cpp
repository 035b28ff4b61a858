#include "controller/client/ClipboardBinding.h"

#include "controller/client/ClipboardFileHost.h"
#include "controller/client/ClipboardTextSync.h"
#include "controller/client/WEXClient.h"

namespace dovrel::controller {

void bindClipboardToSession(WEXClient& client, ClipboardTextSync& text,
                            const std::shared_ptr<ClipboardFileHost>& files) {
    client.setClipFileHost(files);
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

} // namespace dovrel::controller
