// The loading overlay's gauge, painted: the faint base, the fill from the left with its soft end, and
// the band that lights only the letters, probed pixel by pixel.
#include <cmath>
#include <limits>
#include <utility>

#include <QPainter>

#include <gtest/gtest.h>

#include "../../support/Contrast.h"
#include "ViewTestSupport.h"
#include "brand/BrandArt.h"
#include "controller/ui/session/WordmarkGauge.h"

using namespace dovrel;
using namespace dovrel::controller;

namespace {

constexpr int W = 472, H = 56; // twice the overlay's 236-point gauge

QImage paint(double progress, double shimmer, bool dark = true, QColor ground = Qt::transparent) {
    controller::test::viewApp();
    WordmarkGauge gauge;
    gauge.setSize(QSizeF(W, H));
    gauge.setDark(dark);
    gauge.setProgress(progress);
    gauge.setShimmer(shimmer);
    QImage image(W, H, QImage::Format_ARGB32_Premultiplied);
    image.fill(ground);
    QPainter p(&image);
    gauge.paint(&p);
    return image;
}

struct Probes {
    QPoint first; // inside the first letter
    QPoint last;  // inside the last letter, near the right end
};

// Opaque points of the wordmark itself, on its middle row, as the gauge places it.
Probes probes() {
    const QRectF art = brand::fitted(QSizeF(brand::wordmarkSize), QRectF(0, 0, W, H));
    const QImage mark = brand::wordmarkImage(brand::WordmarkVersion::onDark, art.size().toSize());
    const int y = mark.height() / 2;
    int first = -1, last = -1;
    for (int x = 0; x < mark.width(); ++x) {
        if (qAlpha(mark.pixel(x, y)) < 255) continue;
        if (first < 0) first = x + 1;
        last = x - 1;
    }
    return {QPoint(first + int(art.x()), y + int(art.y())), QPoint(last + int(art.x()), y + int(art.y()))};
}

int alpha(const QImage& image, QPoint p) { return qAlpha(image.pixel(p)); }

} // namespace

TEST(WordmarkGaugeTest, ClampsTheFill) {
    EXPECT_EQ(WordmarkGauge::fillWidth(0, 236), 0);
    EXPECT_EQ(WordmarkGauge::fillWidth(-0.5, 236), 0);
    EXPECT_EQ(WordmarkGauge::fillWidth(std::numeric_limits<double>::quiet_NaN(), 236), 0);
    EXPECT_EQ(WordmarkGauge::fillWidth(0.5, 236), 118);
    EXPECT_EQ(WordmarkGauge::fillWidth(1, 236), 236);
    EXPECT_EQ(WordmarkGauge::fillWidth(7, 236), 236);
}

TEST(WordmarkGaugeTest, NothingDoneShowsTheWholeWordAlikeAndNothingBesides) {
    const Probes at = probes();
    const QImage image = paint(0, -0.45);
    EXPECT_GT(alpha(image, at.first), 0);
    EXPECT_EQ(image.pixel(at.first), image.pixel(at.last));
    EXPECT_EQ(alpha(image, QPoint(at.first.x() - 2, 0)), 0) << "nothing outside the letters";
}

TEST(WordmarkGaugeTest, TheFillRevealsTheLettersFromTheLeft) {
    const Probes at = probes();
    const QImage none = paint(0, -0.45);
    const QImage half = paint(0.5, -0.45);
    EXPECT_EQ(alpha(half, at.first), 255);
    EXPECT_EQ(half.pixel(at.last), none.pixel(at.last)) << "the fill has not reached the last letter";

    const QImage whole = paint(1.0, -0.45);
    EXPECT_EQ(alpha(whole, at.first), 255);
    // The right end stays softened by the fill's last stop.
    EXPECT_GT(alpha(whole, at.last), alpha(none, at.last) + 4);
    EXPECT_LT(alpha(whole, at.last), 250);

    for (double wild : {-3.0, 9.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(paint(wild, -0.45).pixel(at.first) == whole.pixel(at.first), wild > 1) << wild;
}

TEST(WordmarkGaugeTest, TheBandLightsTheLettersItCrosses) {
    const Probes at = probes();
    const double x = double(at.first.x()) / W;
    const QImage dark = paint(0, -0.45);
    const QImage lit = paint(0, x - 0.16); // the band's brightest middle on the first letter
    EXPECT_GT(alpha(lit, at.first), alpha(dark, at.first) + 60);
    EXPECT_EQ(alpha(lit, at.last), alpha(dark, at.last)) << "far from the band nothing changes";
    EXPECT_EQ(alpha(lit, QPoint(at.first.x() - 2, 0)), 0) << "the band lights nothing between the letters";
}

// The letters not yet filled are faint, yet the word reads whole; the filled ones stand well apart from
// them, so that the fill shows how far loading got.
TEST(WordmarkGaugeTest, TheUnlitWordReadsWholeOnTheOverlaysGroundAndTheFillStandsApartFromIt) {
    // The window's backdrop where the gauge stands, in either appearance (its two ends alike).
    const Probes at = probes();
    for (const auto& [dark, ground] : {std::pair{true, QColor::fromRgbF(0.04f, 0.05f, 0.1f)},
                                       std::pair{false, QColor::fromRgbF(0.975f, 0.972f, 0.965f)}}) {
        const QImage unlit = paint(0, -0.45, dark, ground), filled = paint(1, -0.45, dark, ground);
        for (QPoint p : {at.first, at.last})
            EXPECT_GE(dovrel::test::contrastRatio(unlit.pixelColor(p), ground), 2.0)
                << (dark ? "dark" : "light") << " at " << p.x() << ": the letters not yet filled fade into the ground";
        EXPECT_GE(dovrel::test::contrastRatio(filled.pixelColor(at.first), unlit.pixelColor(at.first)), 3.0)
            << (dark ? "dark" : "light") << ": a filled letter looks much like one not yet filled";
    }
}
