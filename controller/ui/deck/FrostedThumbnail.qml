import QtQuick
import QtQuick.Shapes
import Qt5Compat.GraphicalEffects as Effects
import Dovrel.Controller

// A card's thumbnail behind frosted glass: what lies under the glass (the demo desktop where the deck
// shows one, else soft light as through a window pane) blurred past recognising, under a pale veil
// whose top edge catches the light, and the crossed-out eye. The blur is drawn once and kept: nothing
// here moves. Without a graphics card (the software renderer draws no blur) the veil lies over the
// thumbnail's own ground, still reading as glass and never showing what it hides.
Item {
    id: frost
    // The deck shows sample machines: their desktop lies under the glass.
    property bool demo: false
    // The card's corner radius; the glass is cut to the card's top corners.
    property real corner: 22

    readonly property bool blurs: GraphicsInfo.api !== GraphicsInfo.Software

    // What lies under the glass, drawn only into the blur.
    Item {
        id: under
        anchors.fill: parent
        visible: false

        Rectangle {
            anchors.fill: parent
            gradient: Gradient {
                orientation: Gradient.Horizontal
                GradientStop {
                    position: 0
                    color: Qt.rgba(0.13, 0.17, 0.30, 1)
                }
                GradientStop {
                    position: 1
                    color: Qt.rgba(0.20, 0.14, 0.30, 1)
                }
            }
        }
        // Without a picture: light falling through the pane, a window's worth of brightness on each
        // side.
        Rectangle {
            visible: !frost.demo
            x: parent.width * 0.08
            y: parent.height * 0.18
            width: parent.width * 0.42
            height: parent.height * 0.6
            radius: 10
            color: Qt.rgba(0.55, 0.80, 0.78, 0.55)
        }
        Rectangle {
            visible: !frost.demo
            x: parent.width * 0.56
            y: parent.height * 0.32
            width: parent.width * 0.34
            height: parent.height * 0.5
            radius: 10
            color: Qt.rgba(0.78, 0.66, 0.92, 0.45)
        }
        Loader {
            anchors.fill: parent
            active: frost.visible && frost.demo && frost.blurs
            sourceComponent: DemoDesktop {}
        }
    }
    Effects.FastBlur {
        id: blurred
        anchors.fill: parent
        visible: false
        source: under
        radius: 64
        cached: true
    }
    TopRounded {
        id: shape
        anchors.fill: parent
        visible: false
        radius: frost.corner
        fill: "white"
    }
    Effects.OpacityMask {
        objectName: "frostBlur"
        anchors.fill: parent
        visible: frost.blurs
        source: blurred
        maskSource: shape
        cached: true
    }

    // The veil: paler at the top, where the pane catches the light, and a bright line along its edge.
    TopRounded {
        anchors.fill: parent
        radius: frost.corner
        gradient: LinearGradient {
            x1: 0
            y1: 0
            x2: 0
            y2: frost.height
            GradientStop {
                position: 0
                color: Qt.rgba(0.86, 0.90, 0.97, 0.30)
            }
            GradientStop {
                position: 0.45
                color: Qt.rgba(0.80, 0.85, 0.93, 0.16)
            }
            GradientStop {
                position: 1
                color: Qt.rgba(0.72, 0.77, 0.87, 0.10)
            }
        }
    }
    Rectangle {
        x: frost.corner
        width: frost.width - 2 * x
        height: 1
        color: Qt.rgba(1, 1, 1, 0.3)
    }
    // The eye on a darker disc of the glass, so that it reads over light under the glass as over dark.
    Rectangle {
        anchors.centerIn: parent
        width: 44
        height: 44
        radius: 22
        color: Qt.rgba(0.05, 0.06, 0.10, 0.28)
        border.color: Qt.rgba(1, 1, 1, 0.16)
        border.width: 1
        Symbol {
            anchors.centerIn: parent
            size: 22
            name: "eye.slash"
            color: Qt.rgba(1, 1, 1, 0.85)
        }
    }
}
