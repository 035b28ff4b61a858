import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import DovrelAgent

// The agent's window: one scrolling column 320 wide — header, status, pairing, account, sharing and
// access, permissions and video, wake, unattended access, quit.
Pane {
    id: root
    required property var vm
    // Laid out at its full height instead of scrolling (for pictures of the whole column).
    property bool unrolled: false
    readonly property Theme theme: Theme { dark: root.vm.dark }
    readonly property var app: vm.app

    width: 320
    height: unrolled ? column.implicitHeight + 32 : 640
    padding: 0
    palette.window: theme.background
    palette.windowText: theme.text
    palette.base: theme.field
    palette.text: theme.text
    palette.button: theme.button
    palette.buttonText: theme.text
    palette.highlight: theme.brandFill
    palette.highlightedText: "white"
    palette.placeholderText: theme.secondary
    palette.mid: theme.divider
    background: Rectangle { color: root.theme.background }

    ScrollView {
        id: scroll
        objectName: "scroll"
        anchors.fill: parent
        contentWidth: 320
        // The column sits 16 in from the top; as much again below it lets the last row (Quit) scroll
        // fully into view.
        contentHeight: column.implicitHeight + 32
        ScrollBar.vertical.policy: root.unrolled ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn

        ColumnLayout {
            id: column
            x: 16
            y: 16
            width: 288
            spacing: 14

            RowLayout {
                spacing: 8
                Image {
                    objectName: "star"
                    source: "qrc:/brand/star.svg"
                    Layout.preferredWidth: 22
                    Layout.preferredHeight: 22
                }
                // The product's drawn name, as the controller shows it.
                Wordmark {
                    objectName: "wordmark"
                    dark: root.vm.dark
                    Layout.preferredHeight: 22
                    Layout.preferredWidth: implicitWidth
                    Accessible.role: Accessible.StaticText
                    Accessible.name: "DOVRELÆ"
                }
                Item { Layout.fillWidth: true }
            }

            RowLayout {
                spacing: 8
                Layout.fillWidth: true
                Rectangle {
                    objectName: "statusDot"
                    implicitWidth: 9
                    implicitHeight: 9
                    radius: 4.5
                    color: root.vm.connected ? root.theme.good : root.theme.warn
                }
                Label {
                    objectName: "statusText"
                    Layout.fillWidth: true
                    // The longer states ("Connected - your device is controlling this computer") take
                    // a second line rather than losing their end.
                    wrapMode: Text.WordWrap
                    text: root.app.statusText
                    textFormat: Text.PlainText
                    color: root.theme.secondary
                    font.pixelSize: root.theme.callout
                }
            }

            Divider { theme: root.theme }
            PairingBlock { vm: root.vm; theme: root.theme }
            Divider { theme: root.theme }
            AccountSection { vm: root.vm; theme: root.theme }
            Divider { theme: root.theme }
            SharingSection { vm: root.vm; theme: root.theme }
            Divider { theme: root.theme }
            DeviceRows { vm: root.vm; theme: root.theme }
            Divider { theme: root.theme }
            WakeSection { vm: root.vm; theme: root.theme }
            Divider { theme: root.theme }
            UnattendedSection { objectName: "unattended"; checker: root.vm.readiness; theme: root.theme }
            Divider { theme: root.theme }

            Button {
                objectName: "quit"
                Layout.fillWidth: true
                text: qsTr("Quit DOVRELÆ")
                palette.buttonText: root.theme.warnText
                font.pixelSize: root.theme.callout
                onClicked: root.vm.quit()
            }
        }
    }
}
