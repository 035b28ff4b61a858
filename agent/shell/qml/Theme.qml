import QtQuick
import Dovrel.Look

// The agent window's palette: the shared look, light or dark as the window is, and with it the shared
// controls' `Look`.
LookPalette {
    id: theme

    readonly property Binding lookFollows: Binding {
        target: Look
        property: "dark"
        value: theme.dark
    }
}
