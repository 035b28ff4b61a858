// What the agent's control messages tell the interface: published fields and signals of the
// WEXClient on the main thread. State arrives newest-only through WindowNews, so that no burst of
// messages can queue up more than one value of each kind for a busy window; the clipboard-file steps
// keep their order and are bounded.
#include <type_traits>

#include "controller/client/session/ClientCore.h"
#include "controller/client/session/WEXClient.h"

namespace dovrel::controller {

void ClientCore::publish(ControlDispatch::News news) {
    using D = ControlDispatch;
    std::visit(
        [this](auto&& n) {
            using N = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<N, D::ClipFilePull>) {
                if (!news_->admitPull()) return;
                post([n, box = news_](WEXClient& c) {
                    box->pullDone();
                    emit c.clipFilePulled(n.generation, n.index);
                });
            } else if constexpr (std::is_same_v<N, wex::ClipFileData>) {
                const auto bytes = static_cast<int64_t>(n.data.size());
                if (!news_->admitData(bytes)) {
                    pieceLines_.print("clip: DATA gen=" + std::to_string(n.generation) +
                                      " idx=" + std::to_string(n.index) + " DROPPED: the window is behind");
                    return;
                }
                post([n = std::move(n), box = news_, bytes](WEXClient& c) {
                    box->dataDone(bytes);
                    emit c.clipFileDataArrived(n.generation, n.index, n.offset, n.data, n.isLast());
                });
            } else {
                if (news_->keep(std::move(n))) deliverLatestNews();
            }
        },
        std::move(news));
}

void ClientCore::deliverLatestNews() {
    post([box = news_](WEXClient& c) {
        WindowNews::Latest latest = box->take();
        if (latest.error) {
            c.publishStatus(QString::fromStdString(latest.error->text));
            if (latest.error->message) emit c.agentErrorReceived(*latest.error->message);
            c.publishAgentError(latest.error->text);
        }
        if (latest.displays) c.publishDisplays(latest.displays->list, latest.displays->streaming);
        if (latest.deckStat) c.publishDeckStat(*latest.deckStat);
        if (latest.clipboard) c.publishRemoteClipboardText(latest.clipboard->text);
        if (latest.offer) emit c.clipFilesOffered(latest.offer->generation, latest.offer->files);
        if (latest.latencyMs) {
            c.publishLatencyMs(*latest.latencyMs);
            c.publishReconnecting(false);
        }
    });
}

} // namespace dovrel::controller
