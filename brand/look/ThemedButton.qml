import QtQuick
import QtQuick.Controls.Basic

// A push button of the shared look: a card-like capsule; filled with the accent green when it is the
// screen's main action (grey while it cannot act, so that it never looks pressable when it does
// nothing); red words on a faint red when it ends something for good. `leading` holds a symbol or a
// spinner before the words; `compact` is the smaller size of dense columns.
Button {
    id: button
    property bool primary: false
    property bool destructive: false
    // Over the remote picture the button keeps dark colours in either appearance.
    property bool overPicture: false
    property bool compact: false
    property list<Item> leading
    readonly property color ink: button.destructive ? Look.badInk
                                                    : button.primary ? (button.enabled ? Look.accentLabel : Look.textDim)
                                                                     : button.overPicture ? "white" : Look.text
    readonly property bool filled: button.primary && button.enabled

    font.pixelSize: button.compact ? Look.detail : Look.body
    font.weight: button.primary ? Font.DemiBold : Font.Medium
    leftPadding: button.compact ? 12 : 18
    rightPadding: button.compact ? 12 : 18
    topPadding: button.compact ? 6 : 9
    bottomPadding: button.compact ? 6 : 9
    spacing: 6

    // Without ids inside: the control builds its content item late.
    contentItem: Item {
        implicitWidth: children[0].implicitWidth
        implicitHeight: Math.max(children[0].implicitHeight, button.compact ? 16 : 18)
        Row {
            anchors.centerIn: parent
            opacity: button.enabled || button.primary ? 1 : 0.45
            // Lays out only what of `leading` is visible, so that a hidden symbol leaves no gap.
            Row {
                anchors.verticalCenter: parent.verticalCenter
                // Qt 6.4's qmllint takes a list bound to a list for a mismatch.
                children: button.leading // qmllint disable
            }
            Text {
                objectName: button.objectName.length > 0 ? button.objectName + "Label" : ""
                visible: text.length > 0
                anchors.verticalCenter: parent.verticalCenter
                leftPadding: parent.children[0].width > 0 ? button.spacing : 0
                text: button.text
                textFormat: Text.PlainText
                font: button.font
                color: button.ink
            }
        }
    }
    background: Rectangle {
        objectName: button.objectName.length > 0 ? button.objectName + "Fill" : ""
        implicitHeight: button.compact ? 28 : 34
        implicitWidth: implicitHeight
        radius: height / 2
        color: button.destructive ? Qt.alpha(Look.bad, 0.14) : button.filled ? Look.accent
                                  : button.overPicture ? Qt.rgba(0.08, 0.08, 0.1, 0.72) : Look.card2
        border.color: button.destructive ? Qt.alpha(Look.bad, 0.55) : button.primary ? "transparent"
                                         : button.overPicture ? Qt.rgba(1, 1, 1, 0.09) : Look.stroke
        border.width: 1
        opacity: !button.enabled && !button.primary ? 0.5 : button.down ? 0.75 : button.hovered ? 0.9 : 1
    }
}
