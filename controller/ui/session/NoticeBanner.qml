import QtQuick
import Dovrel.Controller
import Dovrel.Look

// The notice under the top row: why the session's computer does not take the session back, with a
// button that ends it; the secure-screen warning; the window's own notice or the agent's last error. A
// tap dismisses the last two.
Item {
    id: banner
    required property SessionNotices notices
    // The notice's button: the user gives up on the session.
    signal endPressed

    readonly property bool secure: notices.secureScreen
    readonly property bool away: notices.offersEnd
    implicitWidth: Math.min(560, parent ? parent.width - 32 : 560)
    implicitHeight: card.height
    visible: opacity > 0
    opacity: notices.shown ? 1 : 0
    Behavior on opacity {
        NumberAnimation {
            duration: Theme.springMs
            easing.type: Theme.springEasing
        }
    }
    transform: Translate {
        y: banner.notices.shown ? 0 : -24
        Behavior on y {
            NumberAnimation {
                duration: Theme.springMs
                easing.type: Theme.springEasing
            }
        }
    }

    Rectangle {
        id: card
        objectName: "noticeBanner"
        width: parent.width
        height: noticeRow.implicitHeight + 20
        radius: 14
        color: Theme.material
        border.color: banner.secure ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.5)
                                    : banner.away ? Qt.alpha(Theme.warn, 0.45) : Theme.strokeDark
        border.width: 1

        Shadow {
            blur: 12
            offsetY: 4
            corner: card.radius
        }

        // Under the words and the button, so that the button takes its own clicks.
        MouseArea {
            anchors.fill: parent
            onClicked: banner.notices.dismiss()
        }
        Row {
            id: noticeRow
            x: 14
            y: 10
            width: parent.width - 28
            spacing: 10
            // An error (a request the window refused, or the agent's) carries the error's mark, as every error
            // does; news (a file that arrived, the screen put to rest) a check.
            Item {
                id: noticeGlyph
                width: 15
                height: 15
                Symbol {
                    objectName: "noticeSymbol"
                    visible: !banner.notices.error
                    name: banner.away ? "app.slash" : banner.secure ? "lock.shield.fill" : "checkmark"
                    size: 15
                    color: banner.away ? Theme.warn : Theme.accent
                }
                ErrorMark {
                    objectName: "noticeErrorMark"
                    visible: banner.notices.error
                    size: 15
                    color: Look.errorDark
                }
            }
            Column {
                width: parent.width - noticeGlyph.width - 10
                spacing: 8
                Text {
                    objectName: "noticeText"
                    width: parent.width
                    text: banner.notices.text
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: "white"
                }
                ThemedButton {
                    objectName: "noticeEnd"
                    visible: banner.away
                    anchors.right: parent.right
                    overPicture: true
                    font.pixelSize: 12
                    topPadding: 6
                    bottomPadding: 6
                    text: qsTr("End session")
                    onClicked: banner.endPressed()
                }
            }
        }
    }
}
