import QtQuick
import Dovrel.Controller
import Dovrel.Look

// The strip under the cards: tokens received so far (one per MiB) and that use is free in the beta.
Item {
    id: footer
    required property string tokensText

    implicitHeight: row.implicitHeight + 18

    HoverHandler {
        id: hover
    }
    ThemedToolTip {
        objectName: "usageTip"
        visible: hover.hovered
        // Over the footer's left end, where the count it explains is.
        x: 24
        text: qsTr("1 token = 1 MB of screen streamed to this computer. Sessions over the same network use fewer. DOVRELÆ is free while in beta - this just shows your usage.")
    }

    // The translucent ground, and the hairline along the top.
    Rectangle {
        anchors.fill: parent
        color: Qt.alpha(Theme.bgBottom, 0.72)
    }
    Rectangle {
        width: parent.width
        height: 1
        color: Theme.hair
    }

    Row {
        id: row
        x: 24
        width: parent.width - 48
        anchors.verticalCenter: parent.verticalCenter
        spacing: 7

        Symbol {
            anchors.verticalCenter: parent.verticalCenter
            size: 10
            name: "bolt.fill"
            color: Theme.textDimmer
        }
        Text {
            id: count
            objectName: "tokensText"
            anchors.verticalCenter: parent.verticalCenter
            text: footer.tokensText
            textFormat: Text.PlainText
            font.pixelSize: 12
            font.weight: Font.Medium
            color: Theme.textDim
        }
        Item {
            width: Math.max(0, row.width - 10 - count.width - beta.width - 3 * row.spacing)
            height: 1
        }
        Text {
            id: beta
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("free during beta")
            textFormat: Text.PlainText
            font.pixelSize: 12
            color: Theme.textDimmer
        }
    }
}
