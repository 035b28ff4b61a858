#include "controller/ui/assistant/ClientAssistantRemote.h"

namespace dovrel::controller {

void ClientAssistantRemote::captureNextRemoteText(std::chrono::milliseconds timeout,
                                                  std::function<void(std::optional<QString>)> done) {
    text_.captureNextRemoteText(timeout, [done = std::move(done)](std::optional<std::string> text) {
        done(text ? std::optional<QString>(QString::fromStdString(*text)) : std::nullopt);
    });
}

} // namespace dovrel::controller
