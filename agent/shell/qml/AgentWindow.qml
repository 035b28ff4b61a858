import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dovrel.Look
import DovrelAgent

// The agent's window: one scrolling column 320 wide on the controller's backdrop — the header and the
// status, then pairing, account, sharing and access, permissions and video, wake and unattended access
// each on a card of its own, and Quit.
Pane {
    id: root
    required property var vm
    // Laid out at its full height instead of scrolling (for pictures of the whole column).
    property bool unrolled: false
    readonly property Theme theme: Theme { dark: root.vm.dark }
    readonly property var app: vm.app

    width: 320
    height: unrolled ? column.implicitHeight + 2 * column.y : 640
    padding: 0
    font.pixelSize: root.theme.body
    background: Rectangle {
        gradient: Gradient {
            GradientStop {
                position: 0
                color: root.theme.bgTop
            }
            GradientStop {
                position: 1
                color: root.theme.bgBottom
            }
        }
    }

    ScrollView {
        id: scroll
        objectName: "scroll"
        anchors.fill: parent
        contentWidth: 320
        // The column sits 14 in from the top; as much again below it lets the last row (Quit) scroll
        // fully into view.
        contentHeight: column.implicitHeight + 2 * column.y
        ScrollBar.vertical: ThemedScrollBar {
            parent: scroll
            x: scroll.width - width
            height: scroll.height
            policy: root.unrolled ? ScrollBar.AlwaysOff : size < 1 ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        ColumnLayout {
            id: column
            x: 12
            y: 14
            width: 296
            spacing: 10

            RowLayout {
                spacing: 8
                Layout.leftMargin: 4
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
                Layout.leftMargin: 4
                Layout.bottomMargin: 2
                Rectangle {
                    objectName: "statusDot"
                    Layout.alignment: Qt.AlignTop
                    Layout.topMargin: 5
                    implicitWidth: 9
                    implicitHeight: 9
                    radius: 4.5
                    color: root.vm.connected ? root.theme.goodInk : root.theme.warnMark
                }
                Label {
                    objectName: "statusText"
                    Layout.fillWidth: true
                    // The longer states ("Connected - your device is controlling this computer") take
                    // a second line rather than losing their end.
                    wrapMode: Text.WordWrap
                    text: root.app.statusText
                    textFormat: Text.PlainText
                    color: root.theme.textDim
                    font.pixelSize: root.theme.body
                }
            }

            SectionCard { PairingBlock { vm: root.vm; theme: root.theme } }
            SectionCard { AccountSection { vm: root.vm; theme: root.theme } }
            SectionCard { SharingSection { vm: root.vm; theme: root.theme } }
            SectionCard { DeviceRows { objectName: "deviceRows"; vm: root.vm; theme: root.theme } }
            SectionCard { WakeSection { vm: root.vm; theme: root.theme } }
            SectionCard {
                UnattendedSection { objectName: "unattended"; checker: root.vm.readiness; theme: root.theme }
            }

            ThemedButton {
                objectName: "quit"
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 4
                destructive: true
                compact: true
                text: qsTr("Quit DOVRELÆ")
                onClicked: root.vm.quit()
            }
        }
    }
}
