#pragma once

#include <optional>
#include <utility>

#include <QString>

namespace dovrel::controller {

// Why a call to the account API gave nothing: the service or our own checks refused it (a text for
// the user), or it never got an answer (the platform's own words: no network, time-out, TLS).
struct ApiFailure {
    enum class Kind { refused, transport };
    Kind kind = Kind::refused;
    QString message;

    bool operator==(const ApiFailure&) const = default;
};

// The value of a call, or why there is none.
template <typename T> struct ApiResult {
    std::optional<T> value;
    ApiFailure failure; // meaningful only without a value

    static ApiResult ok(T v) { return {std::move(v), {}}; }
    static ApiResult refused(QString message) {
        return {std::nullopt, {ApiFailure::Kind::refused, std::move(message)}};
    }
    static ApiResult transport(QString message) {
        return {std::nullopt, {ApiFailure::Kind::transport, std::move(message)}};
    }
    bool isOk() const { return value.has_value(); }
};

} // namespace dovrel::controller
