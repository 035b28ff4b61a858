#pragma once

#include <functional>
#include <vector>

#include "controller/platform/HttpClient.h"

namespace dovrel::controller::test {

// Records each request and answers it only when the test says so.
struct FakeHttpClient final : HttpClient {
    struct Sent {
        HttpRequest request;
        std::function<void(const HttpResponse&)> done;
    };
    std::vector<Sent> sent;
    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override {
        sent.push_back({request, std::move(done)});
    }
    void answer(std::size_t i, int status, const QByteArray& body) { sent.at(i).done({std::nullopt, status, body}); }
};

} // namespace dovrel::controller::test
