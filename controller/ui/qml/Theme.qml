pragma Singleton
import QtQuick

// The controller's one palette and animation set: every view takes its colours and springs from here,
// so light and dark are handled in one place. `dark` follows the window's appearance. The words' family
// is the application's font, which every view draws in unless it names a monospaced one: the
// desktop's interface font where it has the medium and semibold faces the views use, else Inter
// (brand/InterfaceFont chooses it before any view is made).
//
// Every text colour here reads at 4.5:1 at least on the surfaces it is drawn on (3:1 for large text),
// in both appearances; the theme contrast test holds each pair to it. The green, yellow and red keep
// their hues, but text drawn in them on the light surfaces takes the darker "ink" of the same hue.
QtObject {
    property bool dark: true

    function dyn(darkValue: color, lightValue: color): color {
        return dark ? darkValue : lightValue
    }

    // The dark values of a few colours, for views that stay dark in either appearance (the assistant
    // panel, the controls over the picture).
    readonly property color textDimDark: Qt.rgba(0.62, 0.62, 0.64, 1)
    readonly property color textDimmerDark: Qt.rgba(0.55, 0.55, 0.58, 1)
    readonly property color card2Dark: Qt.rgba(1, 1, 1, 0.09)
    readonly property color strokeDark: Qt.rgba(1, 1, 1, 0.09)

    readonly property color bgTop: dyn(darkBgTop, Qt.rgba(0.975, 0.972, 0.965, 1))
    readonly property color bgBottom: dyn(darkBgBottom, Qt.rgba(0.945, 0.94, 0.93, 1))
    readonly property color textDim: dyn(textDimDark, Qt.rgba(0.30, 0.29, 0.30, 1))
    readonly property color textDimmer: dyn(textDimmerDark, Qt.rgba(0.38, 0.365, 0.355, 1))
    readonly property color card: dyn(Qt.rgba(1, 1, 1, 0.055), Qt.rgba(0, 0, 0, 0.035))
    readonly property color card2: dyn(card2Dark, Qt.rgba(0, 0, 0, 0.06))
    readonly property color stroke: dyn(strokeDark, Qt.rgba(0, 0, 0, 0.1))
    // The ground of a text field on a card.
    readonly property color well: dyn(Qt.rgba(0, 0, 0, 0.25), Qt.rgba(0, 0, 0, 0.05))
    readonly property color hair: dyn(Qt.rgba(1, 1, 1, 0.06), Qt.rgba(0, 0, 0, 0.06))
    // The main text colour of each appearance (the views' primary labels).
    readonly property color textDark: Qt.rgba(0.95, 0.95, 0.96, 1)
    readonly property color text: dyn(textDark, Qt.rgba(0.09, 0.09, 0.11, 1))

    // The dark appearance's values, for what stays dark over the picture in either appearance (the
    // controls guide, the chips and panels over the remote screen).
    readonly property color darkBgTop: Qt.rgba(0.04, 0.05, 0.1, 1)
    readonly property color darkBgBottom: Qt.rgba(0.06, 0.08, 0.17, 1)
    // The frosted surface of controls over the picture: dense enough that their words read over a
    // white screen as over a black one.
    readonly property color material: Qt.rgba(0.09, 0.09, 0.11, 0.94)
    // The assistant's panel, which holds paragraphs: opaque, so that no line of the picture crosses them.
    readonly property color panel: Qt.rgba(0.11, 0.11, 0.13, 1)

    // What dims the window behind a modal alert or sheet: black, so that the page behind only darkens.
    readonly property color scrim: dyn(Qt.rgba(0, 0, 0, 0.5), Qt.rgba(0, 0, 0, 0.22))

    // The loading overlay's ground; in light, the window's own warm off-white, so that opening a session
    // does not flash to white.
    readonly property color loadingGround: dyn(Qt.rgba(0.05, 0.048, 0.06, 1), bgTop)
    // The ground of the alerts and menus, raised off the window.
    readonly property color raisedDark: Qt.rgba(0.11, 0.12, 0.17, 1)
    readonly property color raised: dyn(raisedDark, Qt.rgba(1, 1, 1, 1))

    readonly property color accent: Qt.rgba(0.063, 0.725, 0.506, 1)
    readonly property color good: Qt.rgba(0.2, 0.83, 0.6, 1)
    readonly property color warn: Qt.rgba(0.98, 0.75, 0.14, 1)
    readonly property color bad: Qt.rgba(0.97, 0.44, 0.44, 1)
    // The same four as text (and the symbols beside it) on the window's own surfaces.
    readonly property color accentInk: dyn(accent, Qt.rgba(0.04, 0.42, 0.29, 1))
    readonly property color goodInk: dyn(good, Qt.rgba(0.09, 0.41, 0.29, 1))
    readonly property color warnInk: dyn(warn, Qt.rgba(0.47, 0.34, 0.01, 1))
    readonly property color badInk: dyn(Qt.rgba(0.97, 0.48, 0.48, 1), Qt.rgba(0.74, 0.04, 0.04, 1))
    // Words and symbols on an accent-filled control.
    readonly property color accentLabel: Qt.rgba(0, 0, 0, 1)

    // The sign-in sheet's green ground, deep enough for its white words.
    readonly property color brandTop: Qt.rgba(0.045, 0.39, 0.275, 1)
    readonly property color brandBottom: Qt.rgba(0.01, 0.31, 0.215, 1)
    readonly property color brandAccent: Qt.rgba(1, 1, 1, 1)
    // The lettering on `brandAccent` (a name beginning "on" would read as a signal handler in QML).
    readonly property color brandInk: brandBottom

    // The two springs as eased curves of the same response: `spring` (0.35 s, damping 0.82, next to no
    // overshoot) drives route and most state changes; `springy` (0.42 s, damping 0.72, a visible
    // overshoot) the wheel and the panels that open from the session chips.
    readonly property int springMs: 350
    readonly property int springEasing: Easing.OutCubic
    readonly property int springyMs: 420
    readonly property int springyEasing: Easing.OutBack
    // `breathe`: ease-in-out over 1.6 s, repeated with auto-reverse.
    readonly property int breatheMs: 1600
}
