// The QR code as a scanner reads it: libqrencode's symbol at level M, drawn with its quiet zone into
// the 150-point square, decoded back by zbarimg, from the image alone and from the window's pixels.

#include <gtest/gtest.h>

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

TEST(QrCode, TheDrawnCodeReadsBackAsThePairingLinkWithItsQuietZone) {
    if (agent::findOnPath("zbarimg").empty()) GTEST_SKIP() << "zbarimg is not installed (zbar-tools)";
    const agent::QrMatrix m = agent::encodeQr(pairingLink);
    ASSERT_FALSE(m.empty());
    const QImage image = agent::renderQr(m, 150);
    ASSERT_EQ(image.size(), QSize(150, 150));
    EXPECT_EQ(scan(image), pairingLink.toStdString());

    // At least four white modules on every side.
    const int module = 150 / (m.side + 2 * agent::qrQuietZone);
    const int margin = (150 - module * m.side) / 2;
    EXPECT_GE(margin, agent::qrQuietZone * module);
    for (int i = 0; i < 150; ++i)
        for (int edge = 0; edge < margin; ++edge) {
            ASSERT_EQ(image.pixel(i, edge), qRgb(255, 255, 255));
            ASSERT_EQ(image.pixel(edge, i), qRgb(255, 255, 255));
            ASSERT_EQ(image.pixel(i, 149 - edge), qRgb(255, 255, 255));
            ASSERT_EQ(image.pixel(149 - edge, i), qRgb(255, 255, 255));
        }
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
