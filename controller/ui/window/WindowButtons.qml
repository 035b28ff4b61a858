pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Dovrel.Controller
import Dovrel.Look

// The window's own buttons, in the trailing corner of its title area: minimise, maximise (restore once
// maximised) and close, round, in the program's colours, each lighter under the pointer and darker
// while pressed, and reachable with Tab (Space or Return presses it). Over the remote picture they
// stand together on the controls' frosted dark. In full screen there is no title area: they go.
Item {
    id: buttons
    // Over the remote picture: the session's frosted dark in either appearance.
    property bool overPicture: false
    readonly property var window: Window.window
    readonly property bool maximized: WindowActions.maximized(window)

    visible: WindowActions.titled(window)
    implicitWidth: row.implicitWidth + (overPicture ? 8 : 0)
    implicitHeight: row.implicitHeight + (overPicture ? 8 : 0)

    component TitleButton: AbstractButton {
        id: button
        required property string symbol
        required property bool overPicture
        focusPolicy: Qt.TabFocus
        // Over the picture inside their capsule, which is then as tall as the row's other controls.
        implicitWidth: button.overPicture ? Theme.titleControl - 8 : Theme.titleControl
        implicitHeight: implicitWidth
        Accessible.role: Accessible.Button
        Accessible.name: button.text
        Keys.onReturnPressed: button.clicked()
        Keys.onEnterPressed: button.clicked()
        ThemedToolTip {
            visible: button.hovered && !button.pressed
            text: button.text
        }
        background: Rectangle {
            radius: width / 2
            color: {
                const strength = button.pressed ? 2.6 : button.hovered ? 1.7 : 1
                if (button.overPicture)
                    return Qt.rgba(1, 1, 1, button.pressed ? 0.22 : button.hovered ? 0.14 : 0)
                return Theme.dark ? Qt.rgba(1, 1, 1, 0.08 * strength) : Qt.rgba(0, 0, 0, 0.06 * strength)
            }
            border.color: Theme.accent
            border.width: button.visualFocus ? 2 : 0
        }
        contentItem: Item {
            Symbol {
                anchors.centerIn: parent
                size: 16
                name: button.symbol
                color: button.overPicture ? "white" : Theme.text
            }
        }
    }

    // Behind the buttons over the picture: one frosted capsule holding the three.
    Rectangle {
        anchors.fill: parent
        visible: buttons.overPicture
        radius: height / 2
        color: Theme.material
        border.color: Theme.strokeDark
        border.width: 1
    }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: buttons.overPicture ? 4 : 8
        TitleButton {
            objectName: "windowMinimize"
            symbol: "window.minimize"
            overPicture: buttons.overPicture
            text: qsTr("Minimize")
            onClicked: buttons.window.showMinimized()
        }
        TitleButton {
            objectName: "windowMaximize"
            symbol: buttons.maximized ? "window.restore" : "window.maximize"
            overPicture: buttons.overPicture
            text: buttons.maximized ? qsTr("Restore") : qsTr("Maximize")
            onClicked: WindowActions.toggleMaximized(buttons.window)
        }
        TitleButton {
            objectName: "windowClose"
            symbol: "window.close"
            overPicture: buttons.overPicture
            text: qsTr("Close")
            onClicked: buttons.window.close()
        }
    }
}
