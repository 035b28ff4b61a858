#pragma once

#include <functional>

#include <QObject>
#include <QString>

namespace dovrel::agent {

// The agent's observable state for its window: pairing code and link, addresses, status and the
// connected controller. Lives on the main thread and is written only there; writers on other threads
// post their change to it. Each property notifies only when its value really changes.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString pairingCode READ pairingCode NOTIFY pairingCodeChanged)
    Q_PROPERTY(QString pairingURL READ pairingURL NOTIFY pairingURLChanged)
    Q_PROPERTY(QString deviceId READ deviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(QString lanIP READ lanIP NOTIFY lanIPChanged)
    Q_PROPERTY(QString mac READ mac NOTIFY macChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    // Empty while no controller is connected.
    Q_PROPERTY(QString connectedClient READ connectedClient NOTIFY connectedClientChanged)
    Q_PROPERTY(QString account READ account NOTIFY accountChanged)

public:
    // Shown until start-up has drawn the first code.
    static constexpr const char* codePlaceholder = "------";

    explicit AppModel(QObject* parent = nullptr);

    QString pairingCode() const { return pairingCode_; }
    QString pairingURL() const { return pairingURL_; }
    QString deviceId() const { return deviceId_; }
    QString lanIP() const { return lanIP_; }
    QString mac() const { return mac_; }
    QString deviceName() const { return deviceName_; }
    QString statusText() const { return statusText_; }
    QString connectedClient() const { return connectedClient_; }
    QString account() const { return account_; }

    void setPairingCode(const QString& v);
    void setPairingURL(const QString& v);
    void setDeviceId(const QString& v);
    void setLanIP(const QString& v);
    void setMac(const QString& v);
    void setDeviceName(const QString& v);
    void setStatusText(const QString& v);
    void setConnectedClient(const QString& v);
    void setAccount(const QString& v);

    // Set by the agent; the window's "disconnect" calls it.
    std::function<void()> onDisconnectSession;
    Q_INVOKABLE void disconnectSession();

signals:
    void pairingCodeChanged();
    void pairingURLChanged();
    void deviceIdChanged();
    void lanIPChanged();
    void macChanged();
    void deviceNameChanged();
    void statusTextChanged();
    void connectedClientChanged();
    void accountChanged();

private:
    QString pairingCode_ = codePlaceholder;
    QString pairingURL_;
    QString deviceId_;
    QString lanIP_;
    QString mac_;
    QString deviceName_ = "Computer";
    QString statusText_ = QStringLiteral("Starting…");
    QString connectedClient_;
    QString account_;
};

} // namespace dovrel::agent
