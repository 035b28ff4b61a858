import QtQuick

// Colours and type sizes of the agent's window, light or dark. The green and orange draw symbols as
// they are; words in them take the `…Text` colours, which read at 4.5:1 at least on the window's
// grounds in either scheme (the green and orange themselves are too light on the light ground).
QtObject {
    property bool dark: false
    readonly property color brand: "#10b981"
    readonly property color good: dark ? "#32d74b" : "#28a745"
    readonly property color warn: dark ? "#ff9f0a" : "#f08a00"
    // Links and words in the brand green; good and warning words.
    readonly property color link: dark ? brand : "#0a7350"
    readonly property color goodText: dark ? good : "#1c7430"
    readonly property color warnText: dark ? warn : "#945500"
    // The main button's fill, under white words.
    readonly property color brandFill: "#0c855d"
    readonly property color background: dark ? "#242428" : "#f4f4f6"
    readonly property color text: dark ? "#f2f2f7" : "#1c1c1e"
    readonly property color secondary: dark ? "#a1a1a8" : "#65656a"
    readonly property color divider: dark ? "#3a3a3e" : "#d9d9de"
    readonly property color codeFill: dark ? "#33ffffff" : "#0f000000"
    readonly property color field: dark ? "#1c1c1f" : "#ffffff"
    readonly property color button: dark ? "#3a3a3e" : "#fbfbfd"
    readonly property int callout: 13
    readonly property int caption: 11
    readonly property int caption2: 10
}
