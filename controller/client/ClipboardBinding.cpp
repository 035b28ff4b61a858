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
    const auto follow = [&client, &text, weak = std::weak_ptr(files)] {
        const bool inSession = client.phaseKind() == PhaseKind::connected;
        const auto host = weak.lock();
        if (inSession) {
            text.start();
            if (host) host->start();
        } else {
            text.stop();
            if (host) host->stop();
        }
    };
    QObject::connect(&client, &WEXClient::phaseChanged, &text, follow);
}

} // namespace dovrel::controller
