#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "controller/platform/HttpClient.h"
#include "controller/services/ApiResult.h"

namespace dovrel::controller {

// Redeeming a share code at the account API of a given relay: the code is normalised and checked here
// first, so a mistyped one never leaves the computer. Called on the main thread; `done` runs there.
class RelayLink : public QObject {
    Q_OBJECT

public:
    explicit RelayLink(std::shared_ptr<HttpClient> http, QObject* parent = nullptr);

    // The pairing link behind the code, from POST /v1/claim at "https://host[:port]".
    void claim(const QString& code, const QString& host, uint16_t port,
               std::function<void(const ApiResult<QString>&)> done);

private:
    std::shared_ptr<HttpClient> http_;
};

} // namespace dovrel::controller
