#pragma once

#include <vector>

#include <QAbstractListModel>
#include <QPointF>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// The wheel's arc, in half turns clockwise on the screen from 3 o'clock (as Qt's arcs count): it starts
// just below 9 o'clock and sweeps over the top to just below 3 o'clock. The buttons and the ring
// drawn through them both follow it.
inline constexpr double wheelArcStart = 0.95;
inline constexpr double wheelArcSweep = 1.1;

// How wide the wheel's labels are drawn, in points: the longest label whole, and the longest word of
// any label.
struct WheelLabels {
    double label = 0;
    double word = 0;
};

// Sizes of the action wheel for `count` buttons, in points. The buttons keep their places on the arc
// (their order and angles) and share one width: the narrowest the wheel allows, or as wide as the
// longest label on one line while that stays within `oneLineUpTo`; past that, as wide as the longest
// word, a label of two words then taking two lines. The radius grows until no two buttons touch: on
// the diagonals the arc's own step would have them overlap. The frame holds the buttons and no more;
// `centerY` is where the arc's centre sits in it.
struct WheelGeometry {
    double arcStep = 64;
    double buttonWidth = 58; // every button's width
    double buttonHeight = 52;
    double cornerRadius = 16;
    double gap = 6; // the least room between two buttons
    double radius = 0;
    double frameWidth = 0;
    double frameHeight = 0;
    double centerY = 0;
    bool compact = false;
};
// `labels`: as drawn at the wheel's label size (none: the narrowest buttons).
WheelGeometry wheelGeometry(int count, double requestedRadius, bool compact, WheelLabels labels = {});
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
    Q_PROPERTY(double radius READ radius NOTIFY layoutChanged)
    Q_PROPERTY(double centerY READ centerY NOTIFY layoutChanged)
    Q_PROPERTY(double labelSize READ labelSize CONSTANT)
    Q_PROPERTY(double arcStartDegrees READ arcStartDegrees CONSTANT)
    Q_PROPERTY(double arcSweepDegrees READ arcSweepDegrees CONSTANT)

public:
    enum Role { LabelRole = Qt::UserRole + 1, IconRole, TintRole, XRole, YRole, DelayRole };
    static constexpr double requestedRadius = 110;
    // The labels' size in pixels: the theme's smallest text, never shrunk further.
    static constexpr double labelPixels = 9;
    // What a label keeps clear on either side of its button.
    static constexpr double labelMargin = 6;
    // The widest a button grows to keep its label on one line.
    static constexpr double oneLineUpTo = 64;

    explicit RadialWheelModel(bool withSendFile, QObject* parent = nullptr);

    void setWords(WheelWords words);
    const std::vector<WheelEntry>& entries() const { return entries_; }
    double frameWidth() const { return geometry_.frameWidth; }
    double frameHeight() const { return geometry_.frameHeight; }
    double buttonWidth() const { return geometry_.buttonWidth; }
    double buttonHeight() const { return geometry_.buttonHeight; }
    double radius() const { return geometry_.radius; }
    double centerY() const { return geometry_.centerY; }
    double labelSize() const { return labelPixels; }
    double arcStartDegrees() const { return wheelArcStart * 180; }
    double arcSweepDegrees() const { return wheelArcSweep * 180; }
    // The entries' labels as the wheel draws them.
    static WheelLabels measure(const std::vector<WheelEntry>& entries);

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
