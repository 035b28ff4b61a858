pragma Singleton
import QtQuick

// The controller's one palette and animation set: every view takes its colours and springs from here,
// so light and dark are handled in one place. `dark` follows the window's appearance.
QtObject {
    property bool dark: true

    function dyn(darkValue: color, lightValue: color): color {
        return dark ? darkValue : lightValue
    }

    // The dark values of a few colours, for views that stay dark in either appearance (the assistant
    // panel).
    readonly property color textDimDark: Qt.rgba(0.62, 0.62, 0.64, 1)
    readonly property color textDimmerDark: Qt.rgba(0.46, 0.46, 0.49, 1)
    readonly property color card2Dark: Qt.rgba(1, 1, 1, 0.09)
    readonly property color strokeDark: Qt.rgba(1, 1, 1, 0.09)

    readonly property color bgTop: dyn(darkBgTop, Qt.rgba(0.975, 0.972, 0.965, 1))
    readonly property color bgBottom: dyn(darkBgBottom, Qt.rgba(0.945, 0.94, 0.93, 1))
    readonly property color textDim: dyn(textDimDark, Qt.rgba(0.42, 0.41, 0.42, 1))
    readonly property color textDimmer: dyn(textDimmerDark, Qt.rgba(0.58, 0.56, 0.55, 1))
    readonly property color card: dyn(Qt.rgba(1, 1, 1, 0.055), Qt.rgba(0, 0, 0, 0.035))
    readonly property color card2: dyn(card2Dark, Qt.rgba(0, 0, 0, 0.06))
    readonly property color stroke: dyn(strokeDark, Qt.rgba(0, 0, 0, 0.1))
    readonly property color hair: dyn(Qt.rgba(1, 1, 1, 0.06), Qt.rgba(0, 0, 0, 0.06))
    // The main text colour of each appearance (the views' primary labels).
    readonly property color text: dyn(Qt.rgba(0.95, 0.95, 0.96, 1), Qt.rgba(0.09, 0.09, 0.11, 1))

    // The dark appearance's values, for what stays dark over the picture in either appearance (the
    // controls guide, the chips and panels over the remote screen).
    readonly property color darkBgTop: Qt.rgba(0.04, 0.05, 0.1, 1)
    readonly property color darkBgBottom: Qt.rgba(0.06, 0.08, 0.17, 1)
    // The thin frosted surface of controls over the picture.
    readonly property color material: Qt.rgba(0.09, 0.09, 0.11, 0.78)

    readonly property color accent: Qt.rgba(0.063, 0.725, 0.506, 1)
    readonly property color good: Qt.rgba(0.2, 0.83, 0.6, 1)
    readonly property color warn: Qt.rgba(0.98, 0.75, 0.14, 1)
    readonly property color bad: Qt.rgba(0.97, 0.44, 0.44, 1)
    readonly property color brandTop: Qt.rgba(0.086, 0.741, 0.522, 1)
    readonly property color brandBottom: Qt.rgba(0.02, 0.588, 0.412, 1)
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
