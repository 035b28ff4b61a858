import QtQuick
import QtQuick.Shapes

// Small line drawings for the pairing screen's labels and buttons, drawn on a 24-unit grid and scaled
// to the item: "chevron", "bubble", "link", "keyboard", "bolt".
Item {
    id: icon
    required property string name
    property color color: "white"
    property real lineWidth: 2

    implicitWidth: 14
    implicitHeight: 14

    readonly property string path: {
        switch (icon.name) {
        case "chevron": return "M 15 4 L 7 12 L 15 20"
        case "bubble": return "M 4 5 L 20 5 Q 21 5 21 6 L 21 15 Q 21 16 20 16 L 10 16 L 6 20 L 6 16 L 4 16 Q 3 16 3 15 L 3 6 Q 3 5 4 5 Z"
        case "link": return "M 10 14 L 14 10 M 8 11 L 6 13 Q 3 16 6 19 Q 8 21 11 18 L 13 16 M 11 8 L 13 6 Q 16 3 18 5 Q 21 8 18 11 L 16 13"
        case "keyboard": return "M 3 6 L 21 6 L 21 18 L 3 18 Z M 6 10 L 7 10 M 10 10 L 11 10 M 14 10 L 15 10 M 18 10 L 18 10 M 7 14 L 17 14"
        case "bolt": return "M 13 2 L 5 14 L 11 14 L 10 22 L 19 9 L 13 9 Z"
        }
        return ""
    }

    Shape {
        antialiasing: true
        anchors.fill: parent
        transform: Scale {
            xScale: icon.width / 24
            yScale: icon.height / 24
        }
        ShapePath {
            strokeColor: icon.color
            strokeWidth: icon.lineWidth * 24 / Math.max(1, icon.width)
            fillColor: icon.name === "bolt" ? icon.color : "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            PathSvg {
                path: icon.path
            }
        }
    }
}
