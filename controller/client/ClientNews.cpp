// What the agent's control messages tell the interface: published fields and signals of the
// WEXClient, posted to the main thread in the order the messages came.
#include <type_traits>

#include "controller/client/ClientCore.h"
#include "controller/client/WEXClient.h"

namespace dovrel::controller {

void ClientCore::publish(ControlDispatch::News news) {
    using D = ControlDispatch;
    if (const auto* error = std::get_if<D::AgentError>(&news)) setStatus(error->text);
    post([news = std::move(news)](WEXClient& c) {
        std::visit(
            [&c](const auto& n) {
                using N = std::decay_t<decltype(n)>;
                if constexpr (std::is_same_v<N, D::Displays>) {
                    c.publishDisplays(n.list, n.streaming);
                } else if constexpr (std::is_same_v<N, D::AgentError>) {
                    if (n.message) emit c.agentErrorReceived(*n.message);
                    c.publishAgentError(n.text);
                } else if constexpr (std::is_same_v<N, wex::DeckStat>) {
                    c.publishDeckStat(n);
                } else if constexpr (std::is_same_v<N, D::ClipboardText>) {
                    c.publishRemoteClipboardText(n.text);
                } else if constexpr (std::is_same_v<N, wex::ClipFilesOffer>) {
                    emit c.clipFilesOffered(n.generation, n.files);
                } else if constexpr (std::is_same_v<N, D::ClipFilePull>) {
                    emit c.clipFilePulled(n.generation, n.index);
                } else {
                    static_assert(std::is_same_v<N, wex::ClipFileData>);
                    emit c.clipFileDataArrived(n.generation, n.index, n.offset, n.data, n.isLast());
                }
            },
            news);
    });
}

} // namespace dovrel::controller
