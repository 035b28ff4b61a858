import QtQuick
import QtQuick.Layouts

Rectangle {
    required property Theme theme
    Layout.fillWidth: true
    implicitHeight: 1
    color: theme.divider
}
