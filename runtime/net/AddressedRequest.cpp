#include "runtime/net/AddressedRequest.h"

#include <string>
#include <vector>

#include <QHostAddress>
#include <QUrl>

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

std::shared_ptr<HostLookups::Lookup> addressRequest(HostLookups& lookups, QObject* receiver, QNetworkRequest request,
                                                    std::function<void(std::optional<QNetworkRequest>)> send) {
    // Looked up as the network knows it: an international name in its ASCII form.
    const QString host = request.url().host(QUrl::EncodeUnicode);
    if (!QHostAddress(host).isNull()) {
        send(std::move(request));
        return nullptr;
    }
    return lookups.start(host.toStdString(), receiver,
                         [request = std::move(request), send = std::move(send)](const std::vector<std::string>& found) {
                             for (const std::string& text : found)
                                 if (const QHostAddress address(QString::fromStdString(text)); !address.isNull())
                                     return send(addressedTo(address, request));
                             send(std::nullopt);
                         });
}

} // namespace dovrel
