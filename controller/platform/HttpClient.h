#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace dovrel::controller {

struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    std::chrono::milliseconds timeout{20000}; // with nothing arriving for this long the request fails
};

// What came back: an HTTP answer of any status with its whole body, or a transport failure (no
// network, time-out, TLS refused) told apart by `transportError`.
struct HttpResponse {
    std::optional<QString> transportError; // the platform's words; never holds the request's secrets
    int status = 0;
    QByteArray body;

    bool isAnswer() const { return !transportError; }
};

// One HTTPS client for every call the controller makes to its services. `done` runs exactly once, on
// the thread that sent the request, unless the client is destroyed first.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) = 0;
};

} // namespace dovrel::controller
