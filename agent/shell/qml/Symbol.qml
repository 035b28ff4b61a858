import QtQuick
import QtQuick.Shapes

// A small symbol drawn from one outline on a 24 × 24 grid, filled in `color` (holes by the even-odd
// rule).
Item {
    id: symbol
    property string name
    property color color: "black"
    property real size: 14
    implicitWidth: size
    implicitHeight: size

    readonly property var outlines: ({
        "check.circle": "M12 2a10 10 0 1 0 0.01 0Z M6.6 12.6 L10.2 16.2 L17.6 8.8 L16.2 7.4 L10.2 13.4 L8 11.2Z",
        "pause": "M12 2a10 10 0 1 0 0.01 0Z M8.7 7.5 H11 V16.5 H8.7Z M13 7.5 H15.3 V16.5 H13Z",
        "info": "M12 2a10 10 0 1 0 0.01 0Z M10.9 10.2 H13.1 V17.5 H10.9Z M12 6a1.3 1.3 0 1 0 0.01 0Z",
        "warning": "M12 2 L23 21.5 L1 21.5Z M10.9 8.5 H13.1 V15 H10.9Z M10.9 16.8 H13.1 V19 H10.9Z",
        "person": "M12 2a10 10 0 1 0 0.01 0Z M12 5.5a3.6 3.6 0 1 0 0.01 0Z M5.8 18.2 C7.5 14.6 16.5 14.6 18.2 18.2 C16.6 19.9 14.4 21 12 21 C9.6 21 7.4 19.9 5.8 18.2Z",
        "person.unknown": "M12 2a10 10 0 1 0 0.01 0Z M12 3.8a8.2 8.2 0 1 0 0.01 0Z M12 6.5a3 3 0 1 0 0.01 0Z M7.4 17.4 C8.8 14.8 15.2 14.8 16.6 17.4 C15.4 18.6 13.8 19.3 12 19.3 C10.2 19.3 8.6 18.6 7.4 17.4Z",
        "key": "M7 7a5 5 0 1 0 0.01 0Z M7 10.4a1.6 1.6 0 1 0 0.01 0Z M12 10.5 H22 V13.5 H20.5 V16.5 H18.5 V13.5 H17 V15.5 H15 V13.5 H12Z",
        "power": "M12 3.2a8.8 8.8 0 1 0 0.01 0Z M12 5.6a6.4 6.4 0 1 0 0.01 0Z M10.7 1 H13.3 V12.5 H10.7Z",
        "video": "M2 6.5 H15.5 V17.5 H2Z M16.5 10.5 L22 7 V17 L16.5 13.5Z",
        "video.slash": "M2 6.5 H15.5 V17.5 H2Z M16.5 10.5 L22 7 V17 L16.5 13.5Z M2.6 2 L22 21.4 L20.6 22.8 L1.2 3.4Z",
        "copy": "M8 2 H20 V16.5 H8Z M9.6 3.6 H18.4 V14.9 H9.6Z M4 6.5 H6.4 V20.4 H15.5 V22 H4Z",
        "checkmark": "M3.5 12.6 L9 18.1 L20.5 6.6 L18.9 5 L9 14.9 L5.1 11Z",
        "renew": "M12 3.2a8.8 8.8 0 1 0 0.01 0Z M12 5.6a6.4 6.4 0 1 0 0.01 0Z M14.5 0.5 L21 5.5 L13.5 8.5Z",
        "shield.x": "M12 2 L20 5 V11 C20 16 16.5 20 12 22 C7.5 20 4 16 4 11 V5Z M8.6 9.3 L10 7.9 L12 9.9 L14 7.9 L15.4 9.3 L13.4 11.3 L15.4 13.3 L14 14.7 L12 12.7 L10 14.7 L8.6 13.3 L10.6 11.3Z",
        "bolt.circle": "M12 2a10 10 0 1 0 0.01 0Z M13.4 4.8 L7 13.2 H11 L10.2 19.2 L17 10.4 H13Z",
        "lock.laptop": "M4 4.5 H20 V16 H4Z M5.6 6.1 H18.4 V14.4 H5.6Z M1.5 17 H22.5 V19.5 H1.5Z M9.5 9.5 H14.5 V13.5 H9.5Z M10.5 9.5 V8 C10.5 6.4 13.5 6.4 13.5 8 V9.5 H12.7 V8.2 C12.7 7.5 11.3 7.5 11.3 8.2 V9.5Z"
    })

    Shape {
        width: 24
        height: 24
        scale: symbol.size / 24
        transformOrigin: Item.TopLeft
        ShapePath {
            fillColor: symbol.color
            strokeColor: "transparent"
            fillRule: ShapePath.OddEvenFill
            PathSvg { path: symbol.outlines[symbol.name] || "" }
        }
    }
}
