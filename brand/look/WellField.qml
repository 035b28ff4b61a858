import QtQuick
import QtQuick.Controls.Basic

// A text field of the shared look: a darker (or, in light, a faintly greyed) rounded ground with a
// hairline inside its edge that turns accent green while the field is being typed in, and the error's
// colour, drawn heavier, while `invalid` says an error shown beside it concerns this field.
TextField {
    id: well
    property bool mono: false
    property real corner: Look.fieldCorner
    property bool invalid: false
    // Whether the field reads as the one being typed in (the share code's two boxes light as a pair).
    property bool lit: well.activeFocus
    property color ground: Look.well
    property color restEdge: Look.stroke
    property color litEdge: Qt.alpha(Look.accent, 0.6)
    property color invalidEdge: Look.error
    readonly property color edge: well.invalid ? well.invalidEdge : well.lit ? well.litEdge : well.restEdge
    color: Look.text
    placeholderTextColor: Look.textDimmer
    selectionColor: Look.accent
    selectedTextColor: Look.accentLabel
    font.family: well.mono ? "monospace" : font.family
    font.pixelSize: well.mono ? Look.detail : Look.body
    padding: 10
    background: Rectangle {
        objectName: well.objectName.length > 0 ? well.objectName + "Edge" : ""
        implicitHeight: 34
        radius: well.corner
        color: well.ground
        border.color: well.edge
        border.width: well.invalid ? 2 : 1
    }
}
