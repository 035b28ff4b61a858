import QtQuick
import QtQuick.Controls
import QtQuick.Shapes
import Dovrel.Controller

// One saved machine as a flip card. The front: the thumbnail (offline, frost, demo desktop or the
// connect prompt, with the CPU sparkline of an awake machine), then kind, name, state and the small
// figures. A long press turns it over to the back's frost, rename and unpair tiles; a click opens a
// session (never for an offline machine); the context menu offers the back's actions on either face.
// Every text and rule comes from the deck's model (DeckMachines); this file only lays out.
Item {
    id: card
    required property int index
    required property string name
    required property var cpu
    required property string kindSymbol
    required property string stateWord
    required property string tone
    required property string lastSeenText
    required property int thumbnail
    required property string promptGlyph
    required property string promptText
    required property bool breathes
    required property bool showsStats
    required property bool showsSparkline
    required property string cpuText
    required property string ramText
    required property string batteryText
    required property string frostTitle
    required property string frostSymbol
    required property string frostMenuTitle
    required property string frostMenuSymbol
    property bool demo: false

    signal open
    signal frost
    signal rename
    signal unpair

    readonly property bool flipped: gesture.flipped
    readonly property bool hover: hoverHandler.hovered
    readonly property bool showingBack: turn.angle > 90
    // Set once the front has shown an awake machine; the status dot then pulses for good.
    property bool breathe: false

    height: 210
    scale: hover && !flipped ? 1.012 : 1
    Behavior on scale {
        NumberAnimation {
            duration: Theme.springMs
            easing.type: Theme.springEasing
        }
    }
    transform: Rotation {
        id: turn
        origin.x: card.width / 2
        origin.y: card.height / 2
        axis {
            x: 0
            y: 1
            z: 0
        }
        angle: card.flipped ? 180 : 0
        Behavior on angle {
            NumberAnimation {
                duration: Theme.springyMs
                easing.type: Easing.OutCubic
            }
        }
    }

    FlipGesture {
        id: gesture
        objectName: "flipGesture"
    }
    Timer {
        id: hold
        interval: gesture.holdMs
        onTriggered: gesture.held()
    }
    HoverHandler {
        id: hoverHandler
    }

    // The card's ground.
    Rectangle {
        anchors.fill: parent
        radius: 22
        color: Theme.card
    }

    // Clicks, presses and the context menu anywhere no button takes them.
    MouseArea {
        objectName: "cardMouse"
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onPressed: mouse => {
            if (mouse.button === Qt.RightButton) {
                menu.popup(mouse.x, mouse.y)
                return
            }
            gesture.press(mouse.x, mouse.y)
            hold.restart()
        }
        onPositionChanged: mouse => gesture.move(mouse.x, mouse.y)
        onReleased: mouse => {
            if (mouse.button !== Qt.LeftButton)
                return
            hold.stop()
            if (gesture.release())
                card.open()
        }
        onCanceled: {
            hold.stop()
            gesture.release()
        }
    }

    // The front face.
    Column {
        objectName: "front"
        anchors.fill: parent
        visible: !card.showingBack
        spacing: 0

        Item {
            id: thumb
            objectName: "thumbnail"
            width: parent.width
            height: 140
            clip: true

            // Every layer that reaches the top is cut to the card's corners.
            TopRounded {
                anchors.fill: parent
                radius: 22
                gradient: LinearGradient {
                    x1: 0
                    y1: 0
                    x2: thumb.width
                    y2: thumb.height
                    GradientStop {
                        position: 0
                        color: Qt.rgba(0.10, 0.13, 0.20, 1)
                    }
                    GradientStop {
                        position: 1
                        color: Qt.rgba(0.07, 0.09, 0.15, 1)
                    }
                }
            }

            // Offline.
            Column {
                objectName: "offlineLayer"
                anchors.centerIn: parent
                visible: card.thumbnail === 0
                spacing: 6
                // The thumbnail is dark in either appearance: its words take the dark values.
                Symbol {
                    anchors.horizontalCenter: parent.horizontalCenter
                    size: 24
                    name: "powersleep"
                    color: Theme.textDimmerDark
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: qsTr("offline")
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    color: Theme.textDimmerDark
                }
            }

            // The frost: the picture, or soft light where there is none, behind frosted glass.
            FrostedThumbnail {
                objectName: "frostLayer"
                anchors.fill: parent
                visible: card.thumbnail === 1
                demo: card.demo
                corner: 22
            }

            // The demo desktop as a screen seen small: drawn at 2.2 times the thumbnail's size, then
            // scaled down, so its menu bar and dock keep a screen's proportions.
            Loader {
                objectName: "demoLayer"
                active: card.thumbnail === 2
                width: thumb.width * 2.2
                height: thumb.height * 2.2
                scale: 1 / 2.2
                transformOrigin: Item.TopLeft
                // Drawn whole at its own size, then shrunk smoothly as a picture is.
                layer.enabled: active
                layer.smooth: true
                layer.mipmap: true
                sourceComponent: DemoDesktop {
                    topCorner: 22 * 2.2
                    drawnSmall: true
                }
            }

            // The connect prompt.
            Column {
                objectName: "promptLayer"
                anchors.centerIn: parent
                visible: card.thumbnail === 3
                spacing: 10
                Rectangle {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 54
                    height: 54
                    radius: 27
                    color: Qt.rgba(1, 1, 1, 0.05)
                    Symbol {
                        anchors.centerIn: parent
                        size: 23
                        name: card.promptGlyph
                        color: Qt.rgba(1, 1, 1, 0.62)
                    }
                }
                Text {
                    objectName: "promptText"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: card.promptText
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: Qt.rgba(0.72, 0.74, 0.78, 1)
                }
            }

            Sparkline {
                objectName: "sparkline"
                visible: card.showsSparkline
                x: 2
                width: parent.width - 4
                height: 26
                anchors.bottom: parent.bottom
                opacity: 0.9
                values: card.cpu
                color: Theme.accent
            }

        }

        // Kind, name, liveness and the small figures.
        Item {
            width: parent.width
            height: 70
            Row {
                id: info
                x: 14
                anchors.verticalCenter: parent.verticalCenter
                spacing: 9
                Symbol {
                    anchors.verticalCenter: parent.verticalCenter
                    size: 16
                    name: card.kindSymbol
                    color: Theme.textDim
                }
                Column {
                    id: nameColumn
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2
                    Text {
                        id: nameText
                        objectName: "nameText"
                        width: Math.min(implicitWidth, card.width - 28 - 25 - stats.width - 18)
                        text: card.name
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        maximumLineCount: 1
                        font.pixelSize: 16
                        font.weight: Font.DemiBold
                        color: Theme.text
                    }
                    Row {
                        id: statusRow
                        spacing: 5
                        // DOVRELÆ not running on a computer that is on: a still ring, never the awake dot.
                        Rectangle {
                            objectName: "stoppedDot"
                            anchors.verticalCenter: parent.verticalCenter
                            visible: card.tone === "stopped"
                            width: 8
                            height: 8
                            radius: 4
                            color: "transparent"
                            border.width: 1.6
                            border.color: Theme.badMark
                        }
                        Rectangle {
                            id: statusDot
                            objectName: "statusDot"
                            visible: card.tone !== "stopped"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 7
                            height: 7
                            radius: 3.5
                            color: card.tone === "good" ? Theme.goodMark : card.tone === "warn" ? Theme.warnMark : Theme.textDimmer
                            // The dot itself stays whole, so that it reads on the card at every step; a
                            // halo of its colour swells and fades around it, in a few steps a second.
                            Rectangle {
                                anchors.centerIn: parent
                                width: parent.width + 8 * dotBreath.level
                                height: width
                                radius: width / 2
                                color: "transparent"
                                border.width: 1.5
                                border.color: statusDot.color
                                opacity: 0.6 * (1 - dotBreath.level)
                                visible: dotBreath.breathing
                            }
                            Breath {
                                id: dotBreath
                                objectName: "statusBreath"
                                running: card.breathes && card.breathe
                                duration: Theme.breatheMs
                            }
                        }
                        Text {
                            id: stateText
                            objectName: "stateText"
                            text: card.stateWord
                            textFormat: Text.PlainText
                            font.pixelSize: 12
                            font.weight: Font.Medium
                            color: Theme.textDim
                        }
                        Text {
                            objectName: "lastSeenText"
                            visible: card.lastSeenText.length > 0
                            text: card.lastSeenText
                            textFormat: Text.PlainText
                            font.pixelSize: 12
                            color: Theme.textDimmer
                        }
                    }
                }
            }
            // The small figures, right-aligned and set on the lines of the text beside them: two rows
            // stand on the baselines of the name and of the status row; three fill the same lines, from
            // the name's cap line down to the status row's descenders, at an even pitch.
            Item {
                id: stats
                objectName: "miniStats"
                visible: card.showsStats
                anchors.right: parent.right
                anchors.rightMargin: 14
                width: Math.max(cpuRow.width, ramRow.width, batteryRow.visible ? batteryRow.width : 0)
                height: parent.height

                readonly property real nameBaseline: info.y + nameColumn.y + nameText.y + nameText.baselineOffset
                readonly property real statusBaseline: info.y + nameColumn.y + statusRow.y + stateText.y
                                                       + stateText.baselineOffset
                readonly property real firstBaseline: nameBaseline - nameCaps.tightBoundingRect("H").height
                                                      + figureCaps.tightBoundingRect("H").height
                readonly property real pitch: Math.min(12, (statusBaseline + statusLine.descent - firstBaseline) / 2)

                FontMetrics {
                    id: nameCaps
                    font: nameText.font
                }
                FontMetrics {
                    id: statusLine
                    font: stateText.font
                }
                FontMetrics {
                    id: figureCaps
                    font: cpuRow.figureFont
                }

                StatRow {
                    id: cpuRow
                    anchors.right: parent.right
                    y: (batteryRow.visible ? stats.firstBaseline : stats.nameBaseline) - baselineOffset
                    label: qsTr("cpu")
                    value: card.cpuText
                    tint: Theme.accentInk
                }
                StatRow {
                    id: ramRow
                    anchors.right: parent.right
                    y: (batteryRow.visible ? cpuRow.y + cpuRow.baselineOffset + stats.pitch : stats.statusBaseline)
                       - baselineOffset
                    label: qsTr("ram")
                    value: card.ramText
                    tint: Theme.accentInk
                }
                StatRow {
                    id: batteryRow
                    anchors.right: parent.right
                    y: ramRow.y + stats.pitch
                    visible: card.batteryText.length > 0
                    label: qsTr("bat")
                    value: card.batteryText
                    tint: Theme.goodInk
                }
            }
        }
        Component.onCompleted: if (card.breathes) card.breathe = true
    }

    // The back face, turned so that it reads the right way round once the card is over.
    Item {
        objectName: "back"
        anchors.fill: parent
        visible: card.showingBack
        transform: Rotation {
            origin.x: card.width / 2
            origin.y: card.height / 2
            axis {
                x: 0
                y: 1
                z: 0
            }
            angle: 180
        }
        Column {
            anchors.fill: parent
            anchors.margins: 16
            spacing: 12
            Item {
                width: parent.width
                height: 20
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width - 30
                    text: card.name
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    font.pixelSize: 14
                    font.weight: Font.DemiBold
                    color: Theme.text
                }
                AbstractButton {
                    objectName: "closeBack"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    width: 20
                    height: 20
                    onClicked: gesture.close()
                    contentItem: Item {
                        Symbol {
                            anchors.centerIn: parent
                            size: 12
                            name: "xmark"
                            color: Theme.textDim
                        }
                    }
                }
            }
            Row {
                width: parent.width
                spacing: 12
                ActionTile {
                    objectName: "frostTile"
                    width: (parent.width - 12) / 2
                    title: card.frostTitle
                    symbol: card.frostSymbol
                    tint: Theme.accentInk
                    onClicked: card.frost()
                }
                ActionTile {
                    objectName: "renameTile"
                    width: (parent.width - 12) / 2
                    title: qsTr("Rename")
                    symbol: "pencil"
                    tint: Theme.textDim
                    onClicked: card.rename()
                }
            }
            ActionTile {
                objectName: "unpairTile"
                width: parent.width
                title: qsTr("Unpair")
                symbol: "trash.fill"
                tint: Theme.badInk
                onClicked: card.unpair()
            }
        }
    }

    // The border, accent while the pointer is over the card.
    Rectangle {
        anchors.fill: parent
        radius: 22
        color: "transparent"
        border.width: 1
        border.color: card.hover ? Qt.alpha(Theme.accent, 0.5) : Theme.stroke
        Behavior on border.color {
            ColorAnimation {
                duration: Theme.springMs
            }
        }
    }

    ThemedMenu {
        id: menu
        objectName: "cardMenu"
        ThemedMenuItem {
            text: card.frostMenuTitle // own words: "Frost thumbnail" or "Show thumbnail"
            icon.source: SymbolSet.url(card.frostMenuSymbol)
            onTriggered: card.frost()
        }
        ThemedMenuItem {
            text: qsTr("Rename…")
            icon.source: SymbolSet.url("pencil")
            onTriggered: card.rename()
        }
        MenuSeparator {}
        ThemedMenuItem {
            text: qsTr("Unpair…")
            icon.source: SymbolSet.url("trash")
            icon.color: Theme.badInk
            palette.windowText: Theme.badInk
            onTriggered: card.unpair()
        }
    }
}
