pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Shapes

// A drop-down of the shared look: the field's ground and edge with a drawn chevron, and a raised list
// whose row under the pointer takes a tint and whose chosen row a check mark. Its choices are a list of
// texts.
ComboBox {
    id: box
    property bool compact: false

    font.pixelSize: box.compact ? Look.detail : Look.body
    leftPadding: 12
    rightPadding: 32
    topPadding: box.compact ? 6 : 8
    bottomPadding: box.compact ? 6 : 8

    contentItem: Text {
        text: box.displayText
        textFormat: Text.PlainText
        font: box.font
        color: Look.text
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    indicator: Shape {
        x: box.width - width - 12
        y: (box.height - height) / 2
        width: 10
        height: 6
        antialiasing: true
        layer.enabled: true
        layer.samples: 4
        rotation: box.popup.visible ? 180 : 0
        ShapePath {
            strokeColor: Look.textDim
            strokeWidth: 1.6
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            startX: 1
            startY: 1
            PathLine {
                x: 5
                y: 5
            }
            PathLine {
                x: 9
                y: 1
            }
        }
    }
    background: Rectangle {
        implicitWidth: 120
        implicitHeight: box.compact ? 28 : 34
        radius: 8
        color: box.hovered ? Look.card2 : Look.well
        border.color: box.visualFocus || box.popup.visible ? Qt.alpha(Look.accent, 0.6) : Look.stroke
        border.width: 1
    }
    delegate: ItemDelegate {
        id: row
        required property int index
        required property string modelData
        width: ListView.view ? ListView.view.width : implicitWidth
        height: box.compact ? 28 : 32
        highlighted: box.highlightedIndex === row.index
        leftPadding: 8
        contentItem: Row {
            spacing: 6
            Shape {
                anchors.verticalCenter: parent.verticalCenter
                width: 12
                height: 10
                opacity: box.currentIndex === row.index ? 1 : 0
                antialiasing: true
                layer.enabled: true
                layer.samples: 4
                ShapePath {
                    strokeColor: Look.accentInk
                    strokeWidth: 1.8
                    fillColor: "transparent"
                    capStyle: ShapePath.RoundCap
                    joinStyle: ShapePath.RoundJoin
                    startX: 1
                    startY: 5
                    PathLine {
                        x: 4.5
                        y: 8.5
                    }
                    PathLine {
                        x: 11
                        y: 1.5
                    }
                }
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: row.modelData
                textFormat: Text.PlainText
                font: box.font
                color: Look.text
            }
        }
        background: Rectangle {
            radius: 6
            color: row.highlighted ? Qt.alpha(Look.accent, 0.16) : "transparent"
        }
    }
    popup: Popup {
        y: box.height + 4
        width: Math.max(box.width, implicitContentWidth + leftPadding + rightPadding)
        padding: 4
        contentItem: ListView {
            implicitHeight: contentHeight
            implicitWidth: 140
            clip: true
            model: box.popup.visible ? box.delegateModel : null
            currentIndex: box.highlightedIndex
        }
        background: Rectangle {
            radius: 10
            color: Look.raised
            border.color: Look.stroke
            border.width: 1
        }
    }
}
