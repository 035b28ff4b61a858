// The family both programs draw their words in: the desktop's own where it has the medium and semibold
// faces the windows use, else Inter, else Cantarell; and, on this system, a medium word really drawn
// medium (fontconfig would otherwise draw it regular and the windows' hierarchy would flatten unseen).
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QSet>

#include <gtest/gtest.h>

#include "ViewTestSupport.h"
#include "brand/InterfaceFont.h"

using dovrel::brand::interfaceFamily;

TEST(InterfaceFontTest, TheDesktopsFontWinsOnlyWithTheWeightsTheWindowsUse) {
    const auto having = [](QSet<QString> families) {
        return [families](const QString& family) { return families.contains(family); };
    };
    EXPECT_EQ(interfaceFamily("Noto Sans", having({"Noto Sans", "Inter"})), "Noto Sans");
    EXPECT_EQ(interfaceFamily("Cantarell", having({"Inter"})), "Inter") << "Debian's Cantarell has no medium";
    EXPECT_EQ(interfaceFamily("DejaVu Sans", having({"Cantarell"})), "Cantarell");
    EXPECT_EQ(interfaceFamily("DejaVu Sans", having({})), "DejaVu Sans") << "nothing better: the desktop's as it is";
    EXPECT_EQ(interfaceFamily("", having({"Inter"})), "Inter");
}

TEST(InterfaceFontTest, OnThisSystemMediumAndSemiboldWordsAreDrawnInTheirOwnFaces) {
    dovrel::controller::test::viewApp(); // chooses the family, as each program does at start
    const QString family = QGuiApplication::font().family();
    if (!dovrel::brand::hasInterfaceWeights(family))
        GTEST_SKIP() << "no installed family has medium and semibold faces (fonts-inter is missing): "
                     << family.toStdString();
    for (const QFont::Weight weight : {QFont::Normal, QFont::Medium, QFont::DemiBold, QFont::Bold}) {
        QFont font = QGuiApplication::font();
        font.setPixelSize(13);
        font.setWeight(weight);
        const QFontInfo drawn(font);
        EXPECT_EQ(drawn.family(), family);
        EXPECT_EQ(drawn.weight(), weight) << "a weight of " << weight << " is drawn as " << drawn.weight() << " ("
                                          << drawn.styleName().toStdString() << ")";
    }
}
