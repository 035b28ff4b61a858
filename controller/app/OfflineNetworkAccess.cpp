#include "controller/app/OfflineNetworkAccess.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace dovrel::controller {

namespace {

class OfflineManager final : public QNetworkAccessManager {
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override {
        const QString scheme = request.url().scheme();
        if (scheme == QLatin1String("qrc") || scheme == QLatin1String("file") || scheme == QLatin1String("data"))
            return QNetworkAccessManager::createRequest(op, request, data);
        // A scheme no one serves: the reply fails with an error at once, without a connection.
        return QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl(QStringLiteral("refused:"))), nullptr);
    }
};

} // namespace

QNetworkAccessManager* OfflineNetworkAccess::create(QObject* parent) { return new OfflineManager(parent); }

} // namespace dovrel::controller
