#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>

class QPainter;

namespace dovrel::brand {

// The wordmark's drawing size: every rendering keeps this aspect ratio.
inline constexpr QSize wordmarkSize{1500, 176};

// Which wordmark: the one drawn for dark backgrounds (light letters) or for light ones.
enum class WordmarkVersion { onDark, onLight };

// Where artwork of `art` proportions goes inside `box`: as large as fits, centred.
QRectF fitted(QSizeF art, const QRectF& box);

// Draws the wordmark fitted into `box`. Each drawing is parsed once per process, on first use; a
// damaged drawing draws nothing (it stands for an empty 1 x 1 image), and false says so.
bool paintWordmark(QPainter& painter, WordmarkVersion version, const QRectF& box);
// The wordmark rendered into a transparent image of `size` pixels (fitted, centred).
QImage wordmarkImage(WordmarkVersion version, QSize size);

// Draws the star mark filled with `color`, fitted into `box` (it touches the box's nearer sides and is
// centred along the other). False when the drawing is damaged.
bool paintStar(QPainter& painter, const QRectF& box, const QColor& color);

} // namespace dovrel::brand
