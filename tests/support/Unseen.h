#pragma once

#include <string>
#include <vector>

#include <QMetaEnum>
#include <QQuickItem>
#include <QRectF>

namespace dovrel::test {

// The scroll bar that says a flickable (or the scroll view around it) holds more than it shows: on the
// screen, and kept there by its policy rather than only while the content moves.
inline bool scrollBarShown(QQuickItem* flickable) {
    const QList<QQuickItem*> children = flickable->childItems();
    std::vector<QQuickItem*> around(children.begin(), children.end());
    if (QQuickItem* view = flickable->parentItem(); view && view->inherits("QQuickScrollView"))
        for (QQuickItem* child : view->childItems())
            around.push_back(child);
    for (QQuickItem* bar : around) {
        if (!bar->inherits("QQuickScrollBar") || bar->property("orientation").toInt() != Qt::Vertical) continue;
        const QMetaObject* meta = bar->metaObject();
        const QMetaEnum policy = meta->enumerator(meta->indexOfEnumerator("Policy"));
        if (bar->isVisible() && bar->width() > 0 && bar->property("policy").toInt() == policy.keyToValue("AlwaysOn"))
            return true;
    }
    return false;
}

// An item as a message names it: its objectName, or its type where it has none.
inline std::string nameOf(const QQuickItem* item) {
    return item->objectName().isEmpty() ? item->metaObject()->className() : item->objectName().toStdString();
}

// Why `item` cannot be seen whole, one sentence a reason; none when it can. It is unseen when it is not
// shown; when an ancestor that clips cuts it, unless that ancestor is a flickable that scrolls it into
// view under a scroll bar on the screen; when it lies beyond `within` (the card that holds it, the
// screen: across, and down too unless it scrolls); when one of `over` lies over it (or over the flickable it scrolls
// in); and, for words, when they are elided or run past the item's own height.
inline std::vector<std::string> unseen(QQuickItem* item, const std::vector<QQuickItem*>& over = {},
                                       QQuickItem* within = nullptr) {
    std::vector<std::string> why;
    const std::string name = item ? nameOf(item) : std::string("(none)");
    if (!item || !item->isVisible()) return {name + " is not shown"};
    const QRectF rect = item->mapRectToScene(item->boundingRect());
    const auto inside = [](const QRectF& r, const QRectF& frame) {
        return frame.adjusted(-0.5, -0.5, 0.5, 0.5).contains(r);
    };
    std::vector<QRectF> seenThrough; // where it can be seen: the scene, or a flickable's viewport
    bool scrolls = false;
    for (QQuickItem* up = item->parentItem(); up; up = up->parentItem()) {
        if (!up->clip()) continue;
        const QRectF frame = up->mapRectToScene(up->boundingRect());
        if (up->inherits("QQuickFlickable")) {
            auto* content = up->property("contentItem").value<QQuickItem*>();
            const QRectF at = item->mapRectToItem(content, item->boundingRect());
            // A flickable whose content has no size of its own takes its own.
            const qreal across = up->property("contentWidth").toReal(), down = up->property("contentHeight").toReal();
            const QRectF room(0, 0, across < 0 ? up->width() : across, down < 0 ? up->height() : down);
            if (!inside(at, room))
                why.push_back(name + " lies beyond what " + nameOf(up) + " scrolls to");
            else if (!inside(rect, frame) && !scrollBarShown(up))
                why.push_back(name + " is cut by " + nameOf(up) + ", which shows no scroll bar");
            seenThrough.push_back(frame);
            scrolls |= room.height() > up->height() + 0.5;
        } else if (!inside(rect, frame)) {
            why.push_back(name + " is cut by " + nameOf(up));
        }
    }
    if (within) {
        QRectF frame = within->mapRectToScene(within->boundingRect());
        if (scrolls) frame.setRect(frame.x(), rect.y(), frame.width(), rect.height());
        if (!inside(rect, frame)) why.push_back(name + " reaches out of " + nameOf(within));
    }
    seenThrough.push_back(rect);
    for (QQuickItem* cover : over) {
        if (!cover || !cover->isVisible()) continue;
        const QRectF top = cover->mapRectToScene(cover->boundingRect());
        for (const QRectF& area : seenThrough)
            if (top.intersects(area)) {
                why.push_back(name + " is covered by " + nameOf(cover));
                break;
            }
    }
    if (item->property("truncated").toBool()) why.push_back(name + " loses the end of its words");
    if (const QVariant words = item->property("contentHeight");
        words.isValid() && !item->inherits("QQuickFlickable") && words.toReal() > item->height() + 1)
        why.push_back(name + " has more lines than room");
    return why;
}

} // namespace dovrel::test
