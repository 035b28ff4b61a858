pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Dovrel.Controller

// The session window's top row: the pointer-mode menu, the machine's name, the writing assistant, the
// audio, help, full screen and exit buttons; those that act on a session (all but the name, help and
// exit) only once one stood. In its own band above the picture it stays; over the
// picture (full screen), at rest (the controls dimmed) it leaves: a faint ghost of it would only blur
// the remote screen's own menu bar and clock, and clicks there reach the remote machine; the next move
// of the pointer brings it back.
Item {
    id: chips
    required property SessionViewModel session
    required property QuibPanelModel assistant
    signal exitPressed

    readonly property SessionHud hud: session.hud
    readonly property var modeTitles: ({ "direct": qsTr("Direct"), "relative": qsTr("Trackpad"), "hybrid": qsTr("Hybrid") })
    readonly property var modeSymbols: ({ "direct": "hand.tap", "relative": "rectangle.and.hand.point.up.left",
                                          "hybrid": "cursorarrow.motionlines" })

    implicitHeight: row.implicitHeight + 14
    opacity: hud.topRowShown ? 1 : 0
    visible: opacity > 0
    enabled: hud.topRowShown
    Behavior on opacity {
        NumberAnimation {
            duration: Theme.springMs
            easing.type: Theme.springEasing
        }
    }

    Item {
        id: row
        anchors.fill: parent
        anchors.topMargin: 14
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        implicitHeight: Theme.titleControl

        // The pointer mode: its title on an accent-tinted capsule, the three modes in its menu.
        Rectangle {
            id: modeChip
            objectName: "pointerModeChip"
            visible: chips.session.stood
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            width: modeRow.implicitWidth + 24
            height: Theme.titleControl
            radius: height / 2
            // Frosted glass under an accent tint, so the title reads over any picture.
            color: Theme.material
            border.color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.8)
            border.width: 1

            Rectangle {
                anchors.fill: parent
                radius: parent.radius
                color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.2)
            }

            Row {
                id: modeRow
                anchors.centerIn: parent
                spacing: 6
                DovrelMark {
                    width: 14
                    height: 14
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    text: chips.modeTitles[chips.session.interaction.mode]
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                }
            }
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: modeMenu.popup(modeChip, 0, modeChip.height + 4)
            }
            // Each mode with its symbol; the current one with a check instead.
            ThemedMenu {
                id: modeMenu
                objectName: "pointerModeMenu"
                overPicture: true
                Repeater {
                    model: chips.session.interaction.modes
                    ThemedMenuItem {
                        required property string modelData
                        objectName: "mode-" + modelData
                        text: chips.modeTitles[modelData] // own words
                        icon.source: SymbolSet.url(chips.session.interaction.mode === modelData ? "checkmark"
                                                                                                : chips.modeSymbols[modelData])
                        icon.color: chips.session.interaction.mode === modelData ? Theme.accent : "white"
                        onTriggered: chips.session.interaction.mode = modelData
                    }
                }
            }
        }

        Row {
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            spacing: 10

            // The machine's name; no action of its own: it is where the window is taken to move it.
            Rectangle {
                objectName: "sessionNameChip"
                anchors.verticalCenter: parent.verticalCenter
                width: nameText.implicitWidth + 20
                height: Theme.titleControl
                radius: height / 2
                color: Theme.material
                TitleDragArea {
                    objectName: "sessionTitleArea"
                    anchors.fill: parent
                }
                Text {
                    id: nameText
                    objectName: "sessionName"
                    anchors.centerIn: parent
                    text: chips.session.deviceName
                    textFormat: Text.PlainText
                    font.pixelSize: 11
                    font.weight: Font.Medium
                    color: Qt.rgba(1, 1, 1, 0.62)
                }
            }
            // The writing assistant: its mark on the accent while the panel is open; a press toggles it.
            Item {
                id: assistantChip
                objectName: "assistantChip"
                readonly property bool open: chips.assistant.open
                visible: chips.session.stood
                anchors.verticalCenter: parent.verticalCenter
                implicitWidth: Theme.titleControl
                implicitHeight: Theme.titleControl

                Rectangle {
                    anchors.fill: parent
                    radius: width / 2
                    color: assistantChip.open ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.9)
                                              : Theme.material
                    border.color: Theme.strokeDark
                    border.width: assistantChip.open ? 0 : 1
                }
                QuibSpiral {
                    id: chipMark
                    anchors.centerIn: parent
                    width: 20
                    height: 20

                    pulse: 1 + 0.05 * chipBreath.level
                    Breath {
                        id: chipBreath
                        objectName: "chipMarkBreath"
                        running: assistantChip.open
                        duration: Theme.breatheMs
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: {
                        if (chips.assistant.open)
                            chips.assistant.hide()
                        else
                            chips.assistant.show()
                        chips.hud.interact()
                    }
                }
            }
            HudButton {
                objectName: "audioChip"
                visible: chips.session.stood
                symbol: chips.session.audioMuted ? "speaker.slash.fill" : "speaker.wave.2.fill"
                // Muted is sound switched off: the struck speaker in red on the glass, never the accent
                // fill that reads as something turned on.
                tint: chips.session.audioMuted ? Theme.bad : "white"
                onPressed: chips.session.toggleAudio()
            }
            HudButton {
                objectName: "helpChip"
                symbol: "questionmark"
                onPressed: {
                    chips.hud.showGuide = true
                    chips.hud.interact()
                }
            }
            HudButton {
                objectName: "fullScreenChip"
                visible: chips.session.stood
                symbol: "arrow.up.left.and.arrow.down.right"
                onPressed: {
                    WindowActions.toggleFullScreen(chips.Window.window)
                    chips.hud.interact()
                }
            }
            // Ending the session is not closing the window beside it: its own symbol, leaving, and its
            // word, on a capsule, so that it is never taken for the window's close button.
            Rectangle {
                objectName: "exitChip"
                anchors.verticalCenter: parent.verticalCenter
                width: exitRow.implicitWidth + 24
                height: Theme.titleControl
                radius: height / 2
                color: Theme.material
                border.color: Theme.strokeDark
                border.width: 1
                Accessible.role: Accessible.Button
                Accessible.name: exitText.text
                Row {
                    id: exitRow
                    anchors.centerIn: parent
                    spacing: 6
                    Symbol {
                        anchors.verticalCenter: parent.verticalCenter
                        name: "rectangle.portrait.and.arrow.right"
                        size: 15
                        color: Theme.bad
                    }
                    Text {
                        id: exitText
                        anchors.verticalCenter: parent.verticalCenter
                        text: qsTr("End")
                        textFormat: Text.PlainText
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                        color: "white"
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: chips.exitPressed()
                }
            }
            // The window's own buttons, apart from the session's.
            Item {
                width: 6
                height: 1
                visible: sessionWindowButtons.visible
            }
            WindowButtons {
                id: sessionWindowButtons
                objectName: "sessionWindowButtons"
                anchors.verticalCenter: parent.verticalCenter
                overPicture: true
            }
        }
    }
}
