// The assistant panel's view-model against fakes of the assistant, the remote field and the clipboard;
// the spiral mark painted into an image.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "GuiTestApp.h"
#include "QuibPanelFakes.h"
#include "controller/ui/assistant/QuibPanelModel.h"
#include "controller/ui/assistant/QuibSpiralItem.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

struct PanelFixture : ::testing::Test, PanelParts {
    void SetUp() override { panel.show(); }
};

TEST_F(PanelFixture, PullPutsTheRemoteFieldIntoTheDraftOrSaysNothingCame) {
    panel.pull();
    EXPECT_TRUE(panel.busy());
    EXPECT_EQ(panel.status(), QString::fromUtf8("Pulling the remote field\xe2\x80\xa6"));
    EXPECT_EQ(remote->selectAlls, 1);
    EXPECT_EQ(remote->captureTimeout, std::chrono::milliseconds(2500));
    panel.pull(); // busy: ignored
    EXPECT_EQ(remote->selectAlls, 1);
    remote->capture("Hello from the remote");
    EXPECT_FALSE(panel.busy());
    EXPECT_EQ(panel.draft(), "Hello from the remote");
    EXPECT_EQ(panel.status(), "Pulled the remote field into the draft.");

    panel.pull();
    remote->capture(QString());
    EXPECT_EQ(panel.draft(), "Hello from the remote");
    EXPECT_EQ(panel.status(), "Nothing came back - click into a text field on the remote first.");
}

TEST_F(PanelFixture, GenerateNeedsAnInstructionAndUsesTheDraft) {
    panel.setPrompt("   ");
    EXPECT_TRUE(panel.generateEnabled()); // blanks enable the button...
    panel.generate();                     // ...but do nothing, silently
    EXPECT_TRUE(assistant->calls.empty());
    EXPECT_EQ(panel.status(), "");

    panel.setPrompt("  write a greeting \n");
    panel.generate();
    ASSERT_EQ(assistant->calls.size(), 1u);
    EXPECT_EQ(assistant->calls[0].text, "");
    EXPECT_EQ(assistant->calls[0].instruction, "write a greeting");
    EXPECT_FALSE(panel.generateEnabled());
    assistant->calls[0].done(QString("Hello!"));
    EXPECT_EQ(panel.draft(), "Hello!");
    EXPECT_EQ(panel.status(), "Draft updated - Insert to type it into the remote.");

    panel.generate();
    EXPECT_EQ(assistant->calls[1].text, "Hello!");
    assistant->calls[1].done(std::nullopt);
    EXPECT_EQ(panel.draft(), "Hello!");
    EXPECT_EQ(panel.status(), "Quib couldn't produce text - try again.");
    EXPECT_EQ(panel.prompt(), "  write a greeting \n"); // never cleared

    panel.insert();
    panel.copy();
    EXPECT_EQ(remote->typed, std::vector<QString>{"Hello!"});
    EXPECT_EQ(clipboard->copied, "Hello!");
    panel.clear();
    EXPECT_EQ(panel.draft(), "");
    EXPECT_EQ(panel.status(), "");
}

TEST_F(PanelFixture, RewriteSelectionTypesOnlyIntoTheSessionItWasAskedIn) {
    panel.rewriteSelection();
    EXPECT_EQ(panel.status(), "Type an instruction first (e.g. \"fix grammar\").");
    EXPECT_EQ(remote->selectAlls, 0);

    panel.setPrompt("fix grammar");
    panel.rewriteSelection();
    remote->capture(std::nullopt); // nothing came back: the assistant is asked with no text
    ASSERT_EQ(assistant->calls.size(), 1u);
    EXPECT_EQ(assistant->calls[0].text, "");
    assistant->calls[0].done(QString("Fixed."));
    EXPECT_EQ(remote->typed, std::vector<QString>{"Fixed."});
    EXPECT_EQ(panel.status(), "Rewrote the remote field.");

    // A late answer after the session changed is dropped.
    panel.rewriteSelection();
    remote->capture(QString("teh text"));
    remote->session = 8;
    assistant->calls[1].done(QString("The text."));
    EXPECT_EQ(remote->typed.size(), 1u);
    EXPECT_FALSE(panel.busy());

    // An answer after the panel closed changes nothing and types nothing; reopening starts afresh.
    panel.rewriteSelection();
    remote->capture(QString("teh text"));
    panel.hide();
    assistant->calls[2].done(QString("The text."));
    EXPECT_EQ(remote->typed.size(), 1u);
    panel.show();
    EXPECT_EQ(panel.prompt(), "");
    EXPECT_FALSE(panel.busy());
}

TEST_F(PanelFixture, HeaderNoteSignInNoticeAndConsent) {
    EXPECT_EQ(panel.note(), QString::fromUtf8("Quib \xc2\xb7 cloud"));
    EXPECT_FALSE(panel.showSignInNotice());
    panel.setCloudConsent(false);
    EXPECT_EQ(panel.source(), QuibPanelModel::Source::Unavailable);
    EXPECT_EQ(panel.note(), "Sign in to use Quib.");
    EXPECT_FALSE(panel.showSignInNotice()); // the day's count is unknown: the working area stays
    EXPECT_EQ(panel.title(), panel.note());
    assistant->remaining = 0;
    panel.refresh();
    EXPECT_TRUE(panel.showSignInNotice());
    // Used up: the header names Quib and the notice says "Sign in to use Quib." once, in its own words.
    EXPECT_EQ(panel.title(), "Quib");
    EXPECT_EQ(panel.noticeLead(), "");
    EXPECT_TRUE(panel.signInNotice().startsWith("Sign in to use Quib."));
    // A reason the notice does not give leads it.
    assistant->reason = "Quib writes in the cloud. Allow that below to use it.";
    panel.refresh();
    EXPECT_EQ(panel.noticeLead(), assistant->reason);
}

TEST_F(PanelFixture, TheUsedUpNoticeOffersSigningInAndTakesTheDraftsStatusAway) {
    panel.setPrompt("fix grammar");
    panel.generate();
    assistant->calls.back().done(QString("Fixed."));
    assistant->remaining = 0;
    panel.setCloudConsent(false);
    ASSERT_TRUE(panel.showSignInNotice());
    EXPECT_EQ(panel.status(), "") << "no line about a draft the notice hides";
    EXPECT_FALSE(panel.signInOffered()) << "an account is signed in: its day is used up";
    assistant->account = false;
    panel.refresh();
    EXPECT_TRUE(panel.signInOffered());
}

TEST(QuibSpiral, PaintsTheGradientSpiralWithAWhiteCentre) {
    dovrel::controller::test::guiApp();
    const QPainterPath path = QuibSpiralItem::spiral(100, 60);
    EXPECT_EQ(path.elementCount(), 141);
    EXPECT_EQ(QPointF(path.elementAt(0)), QPointF(50, 30));
    const QPointF end = path.elementAt(140);
    EXPECT_NEAR(std::hypot(end.x() - 50, end.y() - 30), 0.42 * 60, 1e-9); // the smaller side sets the radius
    EXPECT_DOUBLE_EQ(QuibSpiralItem::lineWidth(100), 8.5);
    EXPECT_DOUBLE_EQ(QuibSpiralItem::lineWidth(10), 1.4);

    QuibSpiralItem item;
    item.setSize(QSizeF(88, 88));
    QImage image(88, 88, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    item.paint(&painter);
    painter.end();
    EXPECT_EQ(image.pixel(44, 44) & 0xFFFFFF, 0xFFFFFFu);
    // The outer end of the spiral takes the gradient's colour where it lies along the diagonal: there
    // about halfway from blue (0.30, 0.55, 1.00) to violet (0.58, 0.36, 0.95).
    const QPointF tip = QuibSpiralItem::spiral(88, 88).elementAt(140);
    const double along = (tip.x() + tip.y()) / 176.0 * 2; // 0 at blue, 1 at violet
    const QColor c = image.pixelColor(tip.toPoint());
    EXPECT_NEAR(c.redF(), 0.30 + (0.58 - 0.30) * along, 0.04);
    EXPECT_NEAR(c.greenF(), 0.55 + (0.36 - 0.55) * along, 0.04);
    EXPECT_NEAR(c.blueF(), 1.00 + (0.95 - 1.00) * along, 0.04);

    item.setPulse(1.05);
    QImage bigger(88, 88, QImage::Format_ARGB32_Premultiplied);
    bigger.fill(Qt::black);
    QPainter p2(&bigger);
    item.paint(&p2);
    p2.end();
    EXPECT_NE(bigger, image);
}

} // namespace
