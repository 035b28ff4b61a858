import QtQuick

// Colours and type sizes of the agent's window, light or dark.
QtObject {
    property bool dark: false
    readonly property color brand: "#10b981"
    readonly property color good: dark ? "#32d74b" : "#28a745"
    readonly property color warn: dark ? "#ff9f0a" : "#f08a00"
    readonly property color background: dark ? "#242428" : "#f4f4f6"
    readonly property color text: dark ? "#f2f2f7" : "#1c1c1e"
    readonly property color secondary: dark ? "#a1a1a8" : "#6c6c72"
    readonly property color divider: dark ? "#3a3a3e" : "#d9d9de"
    readonly property color codeFill: dark ? "#33ffffff" : "#0f000000"
    readonly property color field: dark ? "#1c1c1f" : "#ffffff"
    readonly property int callout: 13
    readonly property int caption: 11
    readonly property int caption2: 10
}
