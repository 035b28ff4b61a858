#include "runtime/net/AddressedRequest.h"

#include <string>

#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include "runtime/net/AddressTurns.h"

namespace dovrel {

namespace {

QNetworkRequest addressedTo(const QHostAddress& address, QNetworkRequest request) {
    QUrl url = request.url();
    request.setRawHeader("Host", url.authority(QUrl::FullyEncoded | QUrl::RemoveUserInfo).toLatin1());
    request.setPeerVerifyName(url.host());
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    url.setHost(address.toString());
    request.setUrl(url);
    return request;
}

} // namespace

void AddressedRequest::Release::operator()(AddressedRequest* request) const {
    if (!request) return;
    request->stop();
    request->deleteLater();
}

AddressedRequest::Ptr AddressedRequest::make(HostLookups& lookups, Scheduler& clock, Duration time, Send send,
                                             Done done) {
    return Ptr(new AddressedRequest(lookups, clock, time, std::move(send), std::move(done)));
}

AddressedRequest::AddressedRequest(HostLookups& lookups, Scheduler& clock, Duration time, Send send, Done done)
    : lookups_(lookups), clock_(clock), time_(time), send_(std::move(send)), done_(std::move(done)) {}

AddressedRequest::~AddressedRequest() { stop(); }

void AddressedRequest::start(QNetworkRequest request) {
    request_ = std::move(request);
    deadline_ = clock_.now() + time_;
    // Looked up as the network knows it: an international name in its ASCII form.
    const QString host = request_.url().host(QUrl::EncodeUnicode);
    if (const QHostAddress literal(host); !literal.isNull()) {
        literal_ = true;
        addresses_ = {literal};
        return tryNext();
    }
    lookup_ = lookups_.start(host.toStdString(), this, [this](const std::vector<std::string>& found) {
        if (stopped_) return;
        lookup_.reset();
        addresses_ = addressesToTry(found);
        if (!addresses_.empty()) return tryNext();
        if (done_) done_(nullptr);
    });
}

void AddressedRequest::stop() {
    stopped_ = true;
    if (lookup_) lookup_->forget();
    lookup_.reset();
    dropAttempt();
}

// Lets the attempt under way go without a word to anyone: not from inside its own signal, which may be
// running now.
void AddressedRequest::dropAttempt() {
    turn_.reset();
    QNetworkReply* reply = attempt_.data();
    attempt_.clear();
    if (!reply) return;
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    QMetaObject::invokeMethod(
        reply,
        [reply] {
            reply->abort();
            reply->deleteLater();
        },
        Qt::QueuedConnection);
}

void AddressedRequest::tryNext() {
    if (stopped_ || next_ >= addresses_.size()) return;
    const std::size_t left = addresses_.size() - next_;
    const QHostAddress& address = addresses_[next_++];
    taken_ = false;
    QNetworkReply* reply = send_(literal_ ? request_ : addressedTo(address, request_));
    attempt_ = reply;
    // Once the request has gone out over this address (its TLS done, if any), the answer is this one's.
    const auto take = [this] {
        taken_ = true;
        turn_.reset();
    };
    QObject::connect(reply, &QNetworkReply::encrypted, this, take);
    QObject::connect(reply, &QNetworkReply::requestSent, this, take);
    QObject::connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
    if (left > 1)
        turn_ = clock_.after(turnTime(deadline_, clock_.now(), left), [this] {
            dropAttempt();
            tryNext();
        });
}

void AddressedRequest::onFinished(QNetworkReply* reply) {
    if (stopped_ || reply != attempt_) return;
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (!taken_ && !answered && next_ < addresses_.size()) {
        dropAttempt();
        // Not from inside the reply's own signal.
        QTimer::singleShot(0, this, [this] { tryNext(); });
        return;
    }
    turn_.reset();
    attempt_.clear();
    if (done_) done_(reply);
}

} // namespace dovrel
