import QtQuick
import Dovrel.Controller

// The product's wordmark at a given height, in the version for the window's appearance.
WordmarkItem {
    dark: Theme.dark
    Accessible.role: Accessible.StaticText
    Accessible.name: "DOVRELÆ"
}
