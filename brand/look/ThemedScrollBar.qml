import QtQuick
import QtQuick.Controls.Basic

// A vertical scroll bar of the shared look, on the screen whenever there is more than fits, so that an
// edge that cuts the content always says there is more; none when everything fits.
ScrollBar {
    id: bar
    // Over the remote picture (and the panels that stay dark) the thumb keeps its light colour.
    property bool overPicture: false
    policy: bar.size < 1 ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    minimumSize: 0.08
    padding: 3
    contentItem: Rectangle {
        implicitWidth: bar.hovered || bar.pressed ? 8 : 6
        implicitHeight: 40
        radius: width / 2
        color: bar.overPicture ? "white" : Look.text
        opacity: bar.pressed ? 0.55 : bar.hovered ? 0.45 : 0.3
        Behavior on implicitWidth {
            NumberAnimation {
                duration: 120
            }
        }
    }
    background: null
}
