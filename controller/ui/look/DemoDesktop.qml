pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Shapes
import Dovrel.Controller

// The demo machines' screen: a made-up desktop (wallpaper, menu bar, a drawing program's window with a
// curve, a dock), drawn to any size and clipped to it. Takes no clicks.
Item {
    id: desk
    clip: true

    // The radius of the top corners, where the desktop fills the top of a rounded card; 0 on a screen.
    property real topCorner: 0
    // Drawn into a layer that is then shrunk smoothly (a card's thumbnail): no layers of its own.
    property bool drawnSmall: false
    // The menu bar's words keep clear of rounded corners.
    readonly property real barInset: Math.max(14, topCorner * 0.55)
    readonly property color barText: Qt.rgba(1, 1, 1, 0.92)
    readonly property color material: Qt.rgba(0.08, 0.08, 0.12, 0.42)

    // The wallpaper: three colours from the top-left corner to the bottom-right one, and a soft glow.
    // Its top corners are rounded by `topCorner` where it fills a card's top.
    TopRounded {
        anchors.fill: parent
        radius: desk.topCorner
        smoothEdges: !desk.drawnSmall
        gradient: LinearGradient {
            x1: 0
            y1: 0
            x2: desk.width
            y2: desk.height
            GradientStop {
                position: 0
                color: Qt.rgba(0.10, 0.13, 0.28, 1)
            }
            GradientStop {
                position: 0.5
                color: Qt.rgba(0.30, 0.16, 0.42, 1)
            }
            GradientStop {
                position: 1
                color: Qt.rgba(0.55, 0.24, 0.36, 1)
            }
        }
    }
    TopRounded {
        anchors.fill: parent
        radius: desk.topCorner
        smoothEdges: !desk.drawnSmall
        gradient: RadialGradient {
            centerX: desk.width * 0.7
            centerY: desk.height * 0.2
            centerRadius: desk.width * 0.7
            focalX: centerX
            focalY: centerY
            focalRadius: 4
            GradientStop {
                position: 0
                color: Qt.rgba(1, 1, 1, 0.14)
            }
            GradientStop {
                position: 1
                color: Qt.rgba(1, 1, 1, 0)
            }
        }
    }

    // The application window with its shadow.
    Item {
        id: appWindow
        width: Math.min(desk.width * 0.62, 560)
        height: Math.min(desk.height * 0.6, 360)
        x: desk.width * 0.52 - width / 2
        y: desk.height * 0.47 - height / 2

        Shadow {
            blur: 28
            offsetY: 14
            corner: 12
            color: Qt.rgba(0, 0, 0, 0.45)
            z: 0
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: "white"
            clip: true
            Column {
                anchors.fill: parent
                Rectangle {
                    width: parent.width
                    height: 30
                    color: Qt.rgba(0.93, 0.93, 0.93, 1)
                    Row {
                        x: 10
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 7
                        Repeater {
                            model: [Qt.rgba(1.0, 0.37, 0.34, 1), Qt.rgba(1.0, 0.74, 0.18, 1), Qt.rgba(0.16, 0.79, 0.25, 1)]
                            Rectangle {
                                required property color modelData
                                width: 11
                                height: 11
                                radius: 5.5
                                color: modelData
                            }
                        }
                    }
                    Text {
                        anchors.centerIn: parent
                        width: parent.width - 2 * 10 - 3 * 11 - 3 * 7
                        x: 10 + 3 * 11 + 3 * 7
                        horizontalAlignment: Text.AlignHCenter
                        text: "Untitled-1 - Vellumix"
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        font.weight: Font.Medium
                        color: Qt.rgba(0, 0, 0, 0.55)
                    }
                }
                // The drawing area: a rounded frame and one curve ending in a dot.
                Item {
                    id: area
                    width: parent.width
                    height: parent.height - 30
                    readonly property real rx: width * 0.16
                    readonly property real ry: height * 0.16
                    readonly property real rw: width * 0.68
                    readonly property real rh: height * 0.68
                    Rectangle {
                        x: area.rx
                        y: area.ry
                        width: area.rw
                        height: area.rh
                        radius: 8
                        color: "transparent"
                        border.width: 1
                        border.color: Qt.rgba(0, 0, 0, 0.12)
                    }
                    Shape {
                        anchors.fill: parent
                        ShapePath {
                            strokeColor: Qt.rgba(0.30, 0.42, 0.92, 1)
                            strokeWidth: 3
                            fillColor: "transparent"
                            startX: area.rx
                            startY: area.ry + area.rh
                            PathCubic {
                                control1X: area.rx + 0.3 * area.rw
                                control1Y: area.ry - 0.1 * area.rh
                                control2X: area.rx + 0.55 * area.rw
                                control2Y: area.ry + area.rh
                                x: area.rx + area.rw
                                y: area.ry + 0.2 * area.rh
                            }
                        }
                    }
                    Rectangle {
                        width: 8
                        height: 8
                        radius: 4
                        x: area.rx + area.rw - 4
                        y: area.ry + 0.2 * area.rh - 4
                        color: Qt.rgba(0.30, 0.42, 0.92, 1)
                    }
                }
            }
        }
    }

    // The menu bar.
    TopRounded {
        width: desk.width
        height: 26
        radius: desk.topCorner
        smoothEdges: !desk.drawnSmall
        fill: desk.material
        // The menus give way to the status items where the screen is narrow.
        Item {
            x: desk.barInset
            width: Math.max(0, parent.width - 2 * desk.barInset - status.width - 16)
            height: parent.height
            clip: true
        Row {
            anchors.verticalCenter: parent.verticalCenter
            spacing: 16
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                size: 13
                name: "apple.logo"
                color: desk.barText
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "Vellumix"
                textFormat: Text.PlainText
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: desk.barText
            }
            Repeater {
                model: ["File", "Edit", "View", "Object", "Effects"]
                Text {
                    required property string modelData
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData
                    textFormat: Text.PlainText
                    font.pixelSize: 13
                    color: desk.barText
                }
            }
        }
        }
        Row {
            id: status
            anchors.right: parent.right
            anchors.rightMargin: desk.barInset
            anchors.verticalCenter: parent.verticalCenter
            spacing: 16
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                size: 13
                name: "battery.75"
                color: desk.barText
            }
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                size: 12
                name: "wifi"
                color: desk.barText
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "9:41 AM"
                textFormat: Text.PlainText
                font.pixelSize: 13
                font.weight: Font.Medium
                color: desk.barText
            }
        }
    }

    // The dock.
    Rectangle {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 8
        width: dock.width + 16
        height: dock.height + 16
        radius: 20
        color: desk.material
        Row {
            id: dock
            anchors.centerIn: parent
            spacing: 12
            Repeater {
                model: ["safari", "mail", "message", "folder", "music.note", "gearshape", "trash"]
                Rectangle {
                    required property string modelData
                    width: 40
                    height: 40
                    radius: 12
                    gradient: Gradient {
                        GradientStop {
                            position: 0
                            color: Qt.rgba(1, 1, 1, 0.9)
                        }
                        GradientStop {
                            position: 1
                            color: Qt.rgba(1, 1, 1, 0.6)
                        }
                    }
                    Symbol {
                        anchors.centerIn: parent
                        size: 18
                        name: parent.modelData
                        color: Qt.rgba(0, 0, 0, 0.6)
                    }
                }
            }
        }
    }
}
