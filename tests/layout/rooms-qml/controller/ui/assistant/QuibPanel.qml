import QtQuick
import Dovrel.Controller

Rectangle {
    color: Theme.accent
    property string hint: "the session's SessionScreen places it"
}
