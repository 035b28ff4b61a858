// The QR code as a scanner reads it: libqrencode's symbol at level M, drawn with modules of one whole
// pixel width and centred in the 150-point square inside the window's white frame, decoded back by
// zbarimg, from the image and the window.

#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>

#include "../../support/FakeScheduler.h"
#include "WindowTestSupport.h"
#include "agent/shell/ChildProcess.h"
#include "agent/shell/QrCode.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

// What zbarimg reads from `image`; nothing when it finds no code or is not installed.
std::optional<std::string> scan(const QImage& image) {
    if (agent::findOnPath("zbarimg").empty()) return std::nullopt;
    QTemporaryDir dir;
    const QString path = dir.filePath("qr.png");
    if (!image.save(path)) return std::nullopt;
    const agent::ChildResult r = agent::runChildProcess("zbarimg", {"--raw", "-q", path.toStdString()});
    if (!r.succeeded()) return std::nullopt;
    std::string text = r.out;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

const QString pairingLink =
    "dovrel://pair?host=192.168.1.24&id=3f9a0c1d2e4b5a69&code=482913&kind=linux&name=Ana%E2%80%99s%20"
    "studio&mac=52:54:00:12:34:56&relay=relay.example.net:8443";

} // namespace

TEST(QrCode, EveryModuleIsTheSameWholePixelsCentredInItsSquareAndReadsBackAsThePairingLink) {
    const agent::QrMatrix m = agent::encodeQr(pairingLink);
    ASSERT_FALSE(m.empty());
    for (const int pixels : {150, 151, m.side * 2 - 1}) {
        const QImage image = agent::renderQr(m, pixels);
        ASSERT_EQ(image.size(), QSize(pixels, pixels));
        // The top-left finder's top edge, seven dark modules, gives the symbol's corner and module.
        int at = 0, run = 0;
        while (at < pixels && image.pixel(at, at) != qRgb(0, 0, 0))
            ++at;
        while (at + run < pixels && image.pixel(at + run, at) == qRgb(0, 0, 0))
            ++run;
        const int module = run / 7, rest = pixels - module * m.side;
        ASSERT_TRUE(module > 0 && run == module * 7) << pixels;
        EXPECT_LT(rest, m.side) << "the widest whole module that fits";
        EXPECT_EQ(at, rest / 2) << "centred";
        int wrong = 0;
        for (int y = 0; y < pixels; ++y)
            for (int x = 0; x < pixels; ++x) {
                const int mx = (x - at) / module, my = (y - at) / module;
                const bool dark = x >= at && y >= at && mx < m.side && my < m.side && m.at(mx, my);
                wrong += image.pixel(x, y) != (dark ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
            }
        EXPECT_EQ(wrong, 0) << pixels;
    }

    const QImage image = agent::renderQr(m, 150);
    // With a white frame round it, as the window draws it, a scanner reads the link.
    if (agent::findOnPath("zbarimg").empty()) GTEST_SKIP() << "zbarimg is not installed (zbar-tools)";
    QImage framed(166, 166, QImage::Format_RGB32);
    framed.fill(Qt::white);
    QPainter(&framed).drawImage(8, 8, image);
    EXPECT_EQ(scan(framed), pairingLink.toStdString());
}

TEST(QrCode, NothingToEncodeGivesNoCodeAndTheRowHides) {
    EXPECT_TRUE(agent::encodeQr("").empty());
    EXPECT_TRUE(agent::encodeQr(QString(8000, QChar('x'))).empty());         // beyond the largest version
    EXPECT_TRUE(agent::renderQr(agent::encodeQr(pairingLink), 20).isNull()); // under one pixel a module

    TestWindow w(std::nullopt);
    w.model.setPairingCode("");
    auto view = w.load();
    EXPECT_FALSE(item(*view, "qrFrame")->isVisible());
}

TEST(QrCode, TheWindowShowsACodeAScannerReads) {
    if (agent::findOnPath("zbarimg").empty()) GTEST_SKIP() << "zbarimg is not installed (zbar-tools)";
    TestWindow w(std::nullopt);
    w.model.setPairingURL(pairingLink);
    auto view = w.load();
    view->show();
    QQuickItem* frame = item(*view, "qrFrame");
    ASSERT_TRUE(frame && frame->isVisible());
    const QImage shot = view->grabWindow();
    const QRectF r = frame->mapRectToScene(QRectF(0, 0, frame->width(), frame->height()));
    EXPECT_EQ(scan(shot.copy(r.toAlignedRect())), pairingLink.toStdString());
}
