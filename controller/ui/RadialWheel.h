#pragma once

#include <vector>

#include <QAbstractListModel>
#include <QPointF>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// Sizes of the action wheel for `count` buttons, in points: the arc step and button width narrow for
// more than nine actions, and the radius is raised until neighbours sit one arc step apart, never
// beyond 168.
struct WheelGeometry {
    double arcStep = 64;
    double buttonWidth = 58;
    double buttonHeight = 52;
    double radius = 0;
    double frameWidth = 0;
    double frameHeight = 0;
    bool compact = false;
};
WheelGeometry wheelGeometry(int count, double requestedRadius, bool compact);
// The open position of button `index` of `count`, from the wheel's centre (y downwards): an arc of
// 198° over the top, from just below the left horizontal to just below the right one.
QPointF wheelOffset(const WheelGeometry& geometry, int index, int count);
// How long after the wheel starts opening button `index` starts: they fan out from left to right.
constexpr int wheelStaggerMs(int index) { return index * 25; }

// What a wheel button does.
enum class WheelCommand {
    taskView,
    start,
    search,
    desktop,
    notifications,
    displays,
    sendFile,
    rest,
    lock,
    ctrlAltDel,
    end
};
// How a button is tinted.
enum class WheelTint { plain, warn, bad };

struct WheelEntry {
    WheelCommand command;
    QString label; // unique within one wheel
    QString icon;
    WheelTint tint = WheelTint::plain;
};
// Whose words the wheel speaks: a Windows PC's (with the security-screen entry), a Mac's, or words
// true of every desktop, for a Linux machine and for one whose kind is not known.
enum class WheelWords { windows, mac, neutral };
// The words for a kind of machine: "windows", "mac", "linux", or anything else when not known.
WheelWords wheelWordsFor(const QString& kind);
// The wheel's actions in arc order; "End" always last. "Send File" only where this program can send
// files.
std::vector<WheelEntry> wheelActionsFor(WheelWords words, bool withSendFile = true);

// The open wheel's buttons for QML: label, icon, tint and where each sits once open.
class RadialWheelModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The session window's model makes its wheel.")
    Q_PROPERTY(double frameWidth READ frameWidth NOTIFY layoutChanged)
    Q_PROPERTY(double frameHeight READ frameHeight NOTIFY layoutChanged)
    Q_PROPERTY(double buttonWidth READ buttonWidth NOTIFY layoutChanged)
    Q_PROPERTY(double buttonHeight READ buttonHeight NOTIFY layoutChanged)

public:
    enum Role { LabelRole = Qt::UserRole + 1, IconRole, TintRole, XRole, YRole, DelayRole };
    static constexpr double requestedRadius = 110;

    explicit RadialWheelModel(bool withSendFile, QObject* parent = nullptr);

    void setWords(WheelWords words);
    const std::vector<WheelEntry>& entries() const { return entries_; }
    double frameWidth() const { return geometry_.frameWidth; }
    double frameHeight() const { return geometry_.frameHeight; }
    double buttonWidth() const { return geometry_.buttonWidth; }
    double buttonHeight() const { return geometry_.buttonHeight; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void layoutChanged();

private:
    std::vector<WheelEntry> entries_;
    WheelGeometry geometry_;
    WheelWords words_ = WheelWords::neutral;
    bool withSendFile_ = true;
};

} // namespace dovrel::controller
