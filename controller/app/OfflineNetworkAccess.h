#pragma once

#include <QQmlNetworkAccessManagerFactory>

namespace dovrel::controller {

// How the window's QML reaches the network: it does not. Every request but for the program's own
// files (qrc:, file:, data:) fails at once, so no text, image or style in the window, whoever wrote it,
// can make the controller fetch anything from an address someone else chose (which would tell them
// this computer's address and when it connects). Nothing the window shows comes from the network.
class OfflineNetworkAccess final : public QQmlNetworkAccessManagerFactory {
public:
    QNetworkAccessManager* create(QObject* parent) override;
};

} // namespace dovrel::controller
