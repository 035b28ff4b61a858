#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "../FakeHttpClient.h"
#include "../client/ClientTestSupport.h"
#include "controller/platform/HttpClient.h"
#include "controller/platform/QtHttpClient.h"
#include "controller/services/AccountApi.h"
#include "tests/support/accountapi/AccountApiDouble.h"

namespace dovrel::controller::test {

// The account API double on loopback and a client of it that trusts the double's authority.
struct ApiDoubleFixture {
    QCoreApplication& application = app(); // before the double, whose thread needs it
    dovrel::test::TempDir dir;
    dovrel::test::AccountApiDouble api{dir.path()};
    std::shared_ptr<QtHttpClient> http = std::make_shared<QtHttpClient>(dovrel::makeSystemResolver(), api.caFile());
    std::shared_ptr<AccountApi> client =
        std::make_shared<AccountApi>(http, "127.0.0.1", api.port(), "relay.default", uint16_t{8443});
};

// Waits for an asynchronous result on the main thread.
template <typename T>
std::optional<ApiResult<T>> await(const std::function<void(std::function<void(const ApiResult<T>&)>)>& start) {
    std::optional<ApiResult<T>> got;
    start([&](const ApiResult<T>& r) { got = r; });
    waitUntil([&] { return got.has_value(); }, std::chrono::seconds(15));
    return got;
}

} // namespace dovrel::controller::test
