pragma Singleton
import QtQuick
import Dovrel.Look

// The controller's one palette and animation set: the shared look's colours, type scale and spring,
// and what only the controller draws (the surfaces over the picture, the loading overlay, the sign-in
// sheet's green, the springier animations). `dark` follows the window's appearance, and the shared
// controls' `Look` with it. The words' family is the application's font, which every view draws in
// unless it names a monospaced one: the desktop's interface font where it has the medium and semibold
// faces the views use, else Inter (brand/InterfaceFont chooses it before any view is made).
LookPalette {
    id: theme

    readonly property Binding lookFollows: Binding {
        target: Look
        property: "dark"
        value: theme.dark
    }

    // The frosted surface of controls over the picture: dense enough that their words read over a
    // white screen as over a black one.
    readonly property color material: Qt.rgba(0.09, 0.09, 0.11, 0.94)
    // The assistant's panel, which holds paragraphs: opaque, so that no line of the picture crosses them.
    readonly property color panel: Qt.rgba(0.11, 0.11, 0.13, 1)

    // What dims the window behind a modal alert or sheet: black, so that the page behind only darkens.
    readonly property color scrim: dyn(Qt.rgba(0, 0, 0, 0.5), Qt.rgba(0, 0, 0, 0.22))

    // The sign-in sheet's green ground, deep enough for its white words.
    readonly property color brandTop: Qt.rgba(0.045, 0.39, 0.275, 1)
    readonly property color brandBottom: Qt.rgba(0.01, 0.31, 0.215, 1)
    readonly property color brandAccent: Qt.rgba(1, 1, 1, 1)
    // The lettering on `brandAccent` (a name beginning "on" would read as a signal handler in QML).
    readonly property color brandInk: brandBottom

    // The height of every control in a title area (the deck's header, the pairing screen's, the
    // session's top row), the window's own buttons among them, so that they stand on one line.
    readonly property int titleControl: 32

    // `springy` (0.42 s, damping 0.72, a visible overshoot) drives the wheel and the panels that open
    // from the session chips; `spring` (the shared look's) route and most state changes.
    readonly property int springyMs: 420
    readonly property int springyEasing: Easing.OutBack
    // `breathe`: ease-in-out over 1.6 s, repeated with auto-reverse.
    readonly property int breatheMs: 1600
}
