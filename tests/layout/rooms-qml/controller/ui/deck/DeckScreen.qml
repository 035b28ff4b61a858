import QtQuick
import Dovrel.Controller

Item {
    DemoDesktop {}
    TitleDragArea {}
}
