import QtQuick
import Dovrel.Controller

// The notice under the top row: the secure-screen warning, the window's own notice or the agent's last
// error. A tap dismisses it (not the secure-screen warning).
Item {
    id: banner
    required property SessionNotices notices

    readonly property bool secure: notices.secureScreen
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
        border.color: banner.secure ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.5) : Theme.strokeDark
        border.width: 1

        Shadow {
            blur: 12
            offsetY: 4
            corner: card.radius
        }

        Row {
            id: noticeRow
            x: 14
            y: 10
            width: parent.width - 28
            spacing: 10
            Symbol {
                id: noticeGlyph
                objectName: "noticeSymbol"
                name: banner.secure ? "lock.shield.fill" : "exclamationmark.triangle.fill"
                size: 15
                color: banner.secure ? Theme.accent : Theme.bad
            }
            Text {
                objectName: "noticeText"
                width: parent.width - noticeGlyph.width - 10
                text: banner.notices.text
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: 12
                font.weight: Font.Medium
                color: "white"
            }
        }
        MouseArea {
            anchors.fill: parent
            onClicked: banner.notices.dismiss()
        }
    }
}
