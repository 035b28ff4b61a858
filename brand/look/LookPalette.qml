import QtQuick

// The look both programs share: the grounds, words and signal colours of the light and the dark
// appearance, the error's colours, the type scale, the spacing and the spring. `Look` is the one
// instance the shared controls read; the controller's own theme is a LookPalette too, with its extras.
//
// Every text colour here reads at 4.5:1 at least on the surfaces it is drawn on (3:1 for large text),
// in both appearances; the contrast tests hold each pair to it. The green, yellow and red keep their
// hues, but text drawn in them on the light surfaces takes the darker "ink" of the same hue.
QtObject {
    property bool dark: true

    function dyn(darkValue: color, lightValue: color): color {
        return dark ? darkValue : lightValue
    }

    // The dark values of a few colours, for surfaces that stay dark in either appearance (the
    // assistant panel, the controls over the picture).
    readonly property color textDimDark: Qt.rgba(0.62, 0.62, 0.64, 1)
    readonly property color textDimmerDark: Qt.rgba(0.55, 0.55, 0.58, 1)
    readonly property color card2Dark: Qt.rgba(1, 1, 1, 0.09)
    readonly property color strokeDark: Qt.rgba(1, 1, 1, 0.09)
    readonly property color darkBgTop: Qt.rgba(0.04, 0.05, 0.1, 1)
    readonly property color darkBgBottom: Qt.rgba(0.06, 0.08, 0.17, 1)

    // The window's backdrop runs from `bgTop` at the top-left corner to `bgBottom` at the bottom-right.
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
    // The ground of the alerts, menus and pop-ups, raised off the window.
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
    // A warning's mark (a triangle, a dot) on the window's own surfaces: the yellow on dark, a deeper
    // amber on light, where the yellow would fade into the ground. A mark reads at 3:1.
    readonly property color warnMark: dyn(warn, Qt.rgba(0.74, 0.42, 0, 1))
    // The same for the green and the red: an awake machine's dot, a stopped program's ring.
    readonly property color goodMark: dyn(good, Qt.rgba(0.04, 0.52, 0.35, 1))
    readonly property color badMark: dyn(bad, Qt.rgba(0.8, 0.16, 0.13, 1))
    // Words and symbols on an accent-filled control.
    readonly property color accentLabel: Qt.rgba(0, 0, 0, 1)

    // An error is said one way everywhere: its mark and the edge of the field it concerns in `error`,
    // its words in `errorInk` on a ground of its own, `errorGround`, which is opaque so that the words
    // read the same on a card, on the sign-in sheet's green or over the picture. `errorDark` is the mark
    // and edge on a ground that is dark in either appearance (the sign-in sheet's fields).
    readonly property color errorDark: Qt.rgba(1, 0.7, 0.68, 1)
    readonly property color error: dyn(Qt.rgba(1, 0.47, 0.44, 1), Qt.rgba(0.85, 0.19, 0.15, 1))
    readonly property color errorInk: dyn(Qt.rgba(1, 0.78, 0.75, 1), Qt.rgba(0.64, 0.12, 0.09, 1))
    readonly property color errorGround: dyn(Qt.rgba(0.24, 0.1, 0.11, 1), Qt.rgba(0.99, 0.925, 0.92, 1))

    // The type scale, in pixels: the big codes, a screen's title, a section's or card's heading, the
    // words of controls and rows, the explanations under them, and the small print.
    readonly property int display: 28
    readonly property int title: 20
    readonly property int headline: 15
    readonly property int body: 13
    readonly property int detail: 12
    readonly property int caption: 11

    // A field's or a small control's corner (a capsule's is its height's half).
    readonly property int fieldCorner: 10

    // The spring (0.35 s, damping 0.82, next to no overshoot) as an eased curve: state changes.
    readonly property int springMs: 350
    readonly property int springEasing: Easing.OutCubic
}
