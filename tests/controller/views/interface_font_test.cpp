// The family both programs draw their words in has the faces the windows use: on this system a medium
// or semibold word is really drawn so (fontconfig would otherwise draw it regular, and the windows'
// hierarchy would flatten unseen).
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include "ViewTestSupport.h"
#include "brand/InterfaceFont.h"

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
