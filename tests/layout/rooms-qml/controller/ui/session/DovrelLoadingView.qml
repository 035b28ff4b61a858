import QtQuick
import Dovrel.Controller

Rectangle {
    color: Theme.accent
}
