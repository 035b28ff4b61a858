#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariant>

#include <gtest/gtest.h>

namespace dovrel::test {

// Colour contrast as the web's accessibility guidelines measure it: relative luminance of sRGB, and
// the ratio (lighter + 0.05) / (darker + 0.05), from 1 to 21. Body text wants 4.5, large text 3.
inline double relativeLuminance(const QColor& c) {
    const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// `top`, with its opacity, painted over the opaque `under`.
inline QColor paintedOver(const QColor& top, const QColor& under) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + under.redF() * (1 - a)),
                            float(top.greenF() * a + under.greenF() * (1 - a)),
                            float(top.blueF() * a + under.blueF() * (1 - a)));
}

inline double contrastRatio(const QColor& a, const QColor& b) {
    const double x = relativeLuminance(a) + 0.05, y = relativeLuminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

// A colour of a theme object ("textDim"), a literal ("#ffffff", "white"), either with an opacity
// ("white@0.62").
inline QColor themeColour(const QObject& theme, const char* written) {
    QString name = QString::fromLatin1(written);
    double alpha = -1;
    if (const qsizetype at = name.indexOf('@'); at >= 0) {
        alpha = name.mid(at + 1).toDouble();
        name = name.left(at);
    }
    QColor c = QColor::isValidColorName(name) ? QColor(name) : theme.property(name.toLatin1()).value<QColor>();
    EXPECT_TRUE(c.isValid()) << written;
    if (alpha >= 0) c.setAlphaF(float(alpha));
    return c;
}

// Words in each of `texts` on each of `grounds` (each ground its layers bottom first, painted one over
// the other) must reach `least`.
struct ContrastCheck {
    const char* where;
    std::vector<const char*> texts;
    std::vector<std::vector<const char*>> grounds;
    double least = 4.5;
};

inline void expectReadable(const QObject& theme, const std::vector<ContrastCheck>& checks, const std::string& tag) {
    for (const ContrastCheck& check : checks)
        for (const auto& ground : check.grounds) {
            QColor under = themeColour(theme, ground.front());
            for (std::size_t i = 1; i < ground.size(); ++i)
                under = paintedOver(themeColour(theme, ground[i]), under);
            for (const char* text : check.texts)
                EXPECT_GE(contrastRatio(paintedOver(themeColour(theme, text), under), under), check.least)
                    << tag << ": " << text << " in the " << check.where << " on " << under.name().toStdString();
        }
}

} // namespace dovrel::test
