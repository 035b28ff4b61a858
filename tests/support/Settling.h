#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <unordered_set>

#include <QCoreApplication>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>

namespace dovrel::test {

namespace settling {

// Where `object` stands in the scene: its own name or that of the nearest named object around it.
inline QString whereIs(const QObject* object) {
    for (const QObject* at = object; at; at = at->parent())
        if (!at->objectName().isEmpty()) return at->objectName();
    for (const QQuickItem* at = qobject_cast<const QQuickItem*>(object->parent()); at; at = at->parentItem())
        if (!at->objectName().isEmpty()) return at->objectName();
    return QStringLiteral("an unnamed item");
}

// An animation as a person would look for it: what it moves, and where.
inline QString describeAnimation(const QObject* animation) {
    QString moves = animation->property("property").toString();
    if (moves.isEmpty()) moves = animation->property("properties").toString();
    if (const QObject* behavior = animation->parent(); behavior && behavior->inherits("QQuickBehavior")) {
        const auto target = behavior->property("targetProperty").value<QQmlProperty>();
        if (target.isValid()) moves = target.name();
    }
    return QStringLiteral("%1 on %2 in %3")
        .arg(QString::fromLatin1(animation->metaObject()->className()), moves.isEmpty() ? QStringLiteral("?") : moves,
             whereIs(animation));
}

} // namespace settling

namespace settling {

// What under `roots` moves: with `loopsToo`, also what is the state itself (an animation that loops for
// ever, a breath), which keeps the window drawing frames as surely as a fade does.
inline QStringList moving(std::initializer_list<QObject*> roots, bool loopsToo) {
    QStringList moving;
    std::unordered_set<QObject*> seen;
    std::function<void(QObject*)> visit = [&](QObject* at) {
        if (!at || !seen.insert(at).second) return;
        if (at->inherits("QQuickAbstractAnimation")) {
            // Animation.Infinite is negative.
            if (at->property("running").toBool() && (loopsToo || at->property("loops").toInt() > 0))
                moving << describeAnimation(at);
        } else if (at->inherits("QQuickTransition")) {
            if (at->property("running").toBool()) moving << QStringLiteral("a transition in ") + whereIs(at);
        } else if (at->inherits("QQuickFlickable")) {
            if (at->property("moving").toBool()) moving << QStringLiteral("scrolling ") + whereIs(at);
        } else if (at->inherits("QQuickImageBase")) {
            if (at->property("status").toInt() == 2) moving << QStringLiteral("an image loading in ") + whereIs(at);
        } else if (loopsToo && at->property("breathing").toBool()) {
            moving << QStringLiteral("a breath in ") + whereIs(at);
        }
        for (QObject* child : at->children())
            visit(child);
        if (auto* item = qobject_cast<QQuickItem*>(at))
            for (QQuickItem* child : item->childItems())
                visit(child);
    };
    for (QObject* root : roots)
        visit(root);
    return moving;
}

// Runs `window`'s frames until nothing `moving` sees is left (on two looks a frame apart, so that what
// one frame's change set off is seen too) or `within` has passed; answers what still moved then.
inline QStringList waitUntilStill(QQuickWindow& window, std::chrono::milliseconds within, bool loopsToo) {
    const auto until = std::chrono::steady_clock::now() + within;
    QStringList now;
    int stillLooks = 0;
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        window.grabWindow(); // a frame, which is what moves an animation on where the scene is drawn
        now = moving({&window, window.contentItem()}, loopsToo);
        stillLooks = now.isEmpty() ? stillLooks + 1 : 0;
        if (stillLooks >= 2 || std::chrono::steady_clock::now() >= until) return now;
    }
}

} // namespace settling

// What in the scene under `roots` is still on its way to where it is going: every animation or
// transition that ends by itself and is running (one that loops for ever, a spinner, a sweep, a
// breath, is the state itself, not the way to it), a view still scrolling, an image still loading.
// The objects are reached both through the object tree and the item tree: a loader's or a repeater's
// items are not the children of anything in the object tree, and a Behavior, an animation or a popup
// is a child of nothing in the item tree.
inline QStringList stillMoving(std::initializer_list<QObject*> roots) { return settling::moving(roots, false); }

// Runs `window`'s frames until nothing in it is on its way (on two looks a frame apart, so that what
// one frame's change set off is seen too) or `within` has passed. Answers what still moved then:
// empty once it has settled.
inline QStringList waitSettled(QQuickWindow& window, std::chrono::milliseconds within = std::chrono::seconds(10)) {
    return settling::waitUntilStill(window, within, false);
}

// The same, for a scene that must come to rest: nothing left that keeps the window drawing, a sweep, a
// spinner or a breath included. A screen that waits for nothing to change draws nothing.
inline QStringList waitAtRest(QQuickWindow& window, std::chrono::milliseconds within = std::chrono::seconds(10)) {
    return settling::waitUntilStill(window, within, true);
}

} // namespace dovrel::test
