#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// The loading overlay's gauge, painted: the wordmark faint in full (in one tone), the same wordmark revealed from
// the left in proportion to `progress` (its last 18 % fading out), and a bright band at `shimmer`
// (a fraction of the width; the band is 0.32 widths wide) that lights only the letters. The overlay
// animates both properties; this item only paints them.
class WordmarkGauge : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool dark READ dark WRITE setDark NOTIFY darkChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(double shimmer READ shimmer WRITE setShimmer NOTIFY shimmerChanged)

public:
    // The letters not yet filled: faint, yet the whole word reads from the first step.
    static constexpr double baseOpacity = 0.36;
    static constexpr double bandWidth = 0.32;

    explicit WordmarkGauge(QQuickItem* parent = nullptr);

    bool dark() const { return dark_; }
    void setDark(bool on);
    double progress() const { return progress_; }
    void setProgress(double p);
    double shimmer() const { return shimmer_; }
    void setShimmer(double x);

    // The width the fill covers of a gauge `width` wide: nothing for progress not above 0 (or not a
    // number), all of it above 1, in proportion between.
    static double fillWidth(double progress, double width);

    void paint(QPainter* painter) override;

signals:
    void darkChanged();
    void progressChanged();
    void shimmerChanged();

private:
    const QImage& mark(QSize pixels, qreal dpr);

    bool dark_ = true;
    double progress_ = 0;
    double shimmer_ = -0.45;
    QImage mark_; // the wordmark at the last painted size and version
    bool markDark_ = true;
};

} // namespace dovrel::controller
