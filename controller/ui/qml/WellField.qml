import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// A text field on a well: a darker (or, in light, a faintly greyed) rounded ground with a hairline
// inside its edge that turns accent green while the field has the focus.
TextField {
    id: well
    property bool mono: false
    property real corner: 10
    property color edge: well.activeFocus ? Qt.alpha(Theme.accent, 0.6) : Theme.stroke
    color: Theme.text
    placeholderTextColor: Theme.textDimmer
    selectionColor: Theme.accent
    selectedTextColor: Theme.accentLabel
    font.family: well.mono ? "monospace" : font.family
    font.pixelSize: well.mono ? 12 : 13
    padding: 10
    background: Rectangle {
        radius: well.corner
        color: Theme.well
        border.color: well.edge
        border.width: 1
    }
}
