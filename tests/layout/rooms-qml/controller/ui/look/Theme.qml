pragma Singleton
import QtQuick

QtObject {
    readonly property color accent: "#3478f6"
}
