import QtQuick
import Dovrel.Controller

// A ring that grows and fades where the last click landed; a new click's ripple starts afresh. The
// model removes it 0.5 s after its own click. Takes no clicks.
Item {
    id: ripple
    objectName: "touchRipple"
    required property InteractionModel interaction

    width: 40
    height: 40
    x: interaction.rippleCenter.x - width / 2
    y: interaction.rippleCenter.y - height / 2
    visible: interaction.hasRipple
    enabled: false

    Connections {
        target: ripple.interaction
        function onRippleChanged() {
            if (ripple.interaction.hasRipple)
                grow.restart()
        }
    }

    Rectangle {
        id: ring
        anchors.fill: parent
        radius: width / 2
        color: Qt.rgba(ripple.interaction.rippleColor.r, ripple.interaction.rippleColor.g,
                       ripple.interaction.rippleColor.b, 0.22)
        border.color: ripple.interaction.rippleColor
        border.width: 2.5
        scale: 0.35
    }
    ParallelAnimation {
        id: grow
        NumberAnimation {
            target: ring
            property: "scale"
            from: 0.35
            to: 1.5
            duration: 450
            easing.type: Easing.OutQuad
        }
        NumberAnimation {
            target: ring
            property: "opacity"
            from: 1
            to: 0
            duration: 450
            easing.type: Easing.OutQuad
        }
    }
}
