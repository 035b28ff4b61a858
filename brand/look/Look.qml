pragma Singleton
import QtQuick

// The shared look's one palette in a program: the shared controls read it, and the program sets its
// `dark` to the window's appearance.
LookPalette {}
