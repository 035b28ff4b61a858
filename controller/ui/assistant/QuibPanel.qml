pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Dovrel.Controller
import Dovrel.Look

// The writing-assistant panel that floats in the session window. Everything it decides lives in
// `model` (QuibPanelModel); this file lays it out. The panel is always dark, in either appearance, so
// it takes the theme's dark values.
Rectangle {
    id: panel
    required property QuibPanelModel model

    readonly property color card2: Theme.card2Dark
    readonly property color stroke: Theme.strokeDark
    readonly property color textDim: Theme.textDimDark
    readonly property color textDimmer: Theme.textDimmerDark

    // The picture it floats over, seen blurred through it.
    property Item backdrop: null

    width: 470
    implicitHeight: content.implicitHeight + 32
    radius: 18
    // A dark tint over the blurred picture, so that no line of it crosses the panel's words; opaque
    // where nothing blurs.
    color: glass.active ? Qt.rgba(0.11, 0.11, 0.13, 0.78) : Theme.panel
    border.color: stroke
    border.width: 1

    Shadow {
        blur: 20
        offsetY: 8
        corner: panel.radius
        color: Qt.rgba(0, 0, 0, 0.35)
    }
    GlassBackdrop {
        id: glass
        objectName: "quibGlass"
        anchors.fill: parent
        radius: panel.radius
        source: panel.backdrop
    }

    // The five actions under the draft, in order.
    readonly property var actions: [
        { name: "quibRewrite", symbol: "wand.and.stars", label: qsTr("Rewrite selection") },
        { name: "quibPull", symbol: "square.and.arrow.down", label: qsTr("Pull") },
        { name: "quibInsert", symbol: "square.and.arrow.up", label: qsTr("Insert") },
        { name: "quibCopy", symbol: "doc.on.doc", label: qsTr("Copy") },
        { name: "quibClear", symbol: "xmark.circle", label: qsTr("Clear") }
    ]

    function act(name: string) {
        switch (name) {
        case "quibRewrite": panel.model.rewriteSelection(); break
        case "quibPull": panel.model.pull(); break
        case "quibInsert": panel.model.insert(); break
        case "quibCopy": panel.model.copy(); break
        case "quibClear": panel.model.clear(); break
        }
    }

    ColumnLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        RowLayout {
            spacing: 10
            Layout.fillWidth: true

            QuibSpiral {
                id: mark
                objectName: "quibMark"
                Layout.preferredWidth: 22
                Layout.preferredHeight: 22

                pulse: 1 + 0.05 * markBreath.level
                Breath {
                    id: markBreath
                    objectName: "quibMarkBreath"
                    duration: Theme.breatheMs
                }
            }
            Text {
                objectName: "quibNote"
                Layout.fillWidth: true
                text: panel.model.title
                textFormat: Text.PlainText
                color: "white"
                font.pixelSize: 13
                font.weight: Font.DemiBold
                // A reason ("allow that below", "sign in") is read whole, over as many lines as it needs.
                wrapMode: Text.Wrap
            }
            Spinner {
                objectName: "quibBusy"
                color: Theme.accent
                visible: panel.model.busy
                Layout.preferredWidth: 16
                Layout.preferredHeight: 16
            }
            AbstractButton {
                objectName: "quibClose"
                implicitWidth: 13
                implicitHeight: 13
                onClicked: panel.model.closeRequested()
                contentItem: Symbol {
                    size: 12
                    name: "xmark"
                    color: panel.textDim
                }
            }
        }

        // The day's generations are used up: how Quib comes back, instead of the working area.
        ColumnLayout {
            objectName: "quibSignIn"
            visible: panel.model.showSignInNotice
            spacing: 8
            Layout.fillWidth: true
            Text {
                objectName: "quibNoticeLead"
                visible: text.length > 0
                Layout.fillWidth: true
                text: panel.model.noticeLead
                textFormat: Text.PlainText
                color: panel.textDim
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
            Text {
                objectName: "quibNoticeText"
                Layout.fillWidth: true
                text: panel.model.signInNotice
                textFormat: Text.PlainText
                color: panel.textDim
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
            ThemedButton {
                objectName: "quibSignInButton"
                visible: panel.model.signInOffered
                Layout.topMargin: 2
                primary: true
                compact: true
                text: qsTr("Sign in")
                onClicked: panel.model.signIn()
            }
        }

        RowLayout {
            visible: !panel.model.showSignInNotice
            spacing: 8
            Layout.fillWidth: true

            TextField {
                id: promptField
                objectName: "quibPrompt"
                Layout.fillWidth: true
                text: panel.model.prompt
                onTextEdited: panel.model.prompt = text
                onAccepted: panel.model.generate()
                placeholderText: qsTr("Tell Quib what to do - \"reply politely\", \"fix grammar\", \"in Hindi\"\u2026")
                placeholderTextColor: panel.textDimmer
                color: "white"
                font.pixelSize: 13
                padding: 10
                background: Rectangle {
                    radius: 10
                    color: Qt.rgba(0, 0, 0, 0.25)
                    border.color: panel.stroke
                    border.width: 1
                }
            }
            Button {
                id: generateButton
                objectName: "quibGenerate"
                text: qsTr("Generate")
                enabled: panel.model.generateEnabled
                font.pixelSize: 13
                font.weight: Font.DemiBold
                leftPadding: 14
                rightPadding: 14
                topPadding: 10
                bottomPadding: 10
                onClicked: panel.model.generate()
                contentItem: Text {
                    text: generateButton.text
                    textFormat: Text.PlainText
                    font: generateButton.font
                    color: panel.model.prompt.length > 0 ? Theme.accentLabel : panel.textDim
                }
                background: Rectangle {
                    radius: height / 2
                    color: panel.model.prompt.length > 0 ? Theme.accent : panel.card2
                    // Held back while a request is under way.
                    opacity: generateButton.enabled || panel.model.prompt.length === 0 ? 1 : 0.5
                }
            }
        }

        ScrollView {
            visible: !panel.model.showSignInNotice
            Layout.fillWidth: true
            Layout.preferredHeight: 118
            background: Rectangle {
                radius: 10
                color: Qt.rgba(0, 0, 0, 0.25)
                border.color: panel.stroke
                border.width: 1
            }
            TextArea {
                objectName: "quibDraft"
                text: panel.model.draft
                textFormat: TextEdit.PlainText
                onTextChanged: if (text !== panel.model.draft) panel.model.draft = text
                color: "white"
                font.pixelSize: 13
                padding: 8
                wrapMode: TextEdit.Wrap
                background: null
            }
        }

        RowLayout {
            visible: !panel.model.showSignInNotice
            spacing: 10
            Layout.fillWidth: true
            Repeater {
                model: panel.actions
                delegate: Button {
                    id: tile
                    required property var modelData
                    required property int index
                    objectName: tile.modelData.name
                    // Each label on one line, the symbols level across the row: the first tile takes
                    // the room its longer label needs, the other four share the rest equally.
                    Layout.fillWidth: tile.index > 0
                    Layout.preferredWidth: tile.index > 0 ? 1 : labelMetrics.advanceWidth + 24
                    Layout.preferredHeight: 50
                    font.pixelSize: 10
                    font.weight: Font.Medium
                    enabled: !panel.model.busy
                    onClicked: panel.act(tile.modelData.name)
                    TextMetrics {
                        id: labelMetrics
                        font: tile.font
                        text: tile.modelData.label
                    }
                    background: Rectangle {
                        radius: 10
                        color: panel.card2
                        opacity: tile.enabled ? 1 : 0.5
                    }
                    contentItem: Item {
                        Column {
                            anchors.centerIn: parent
                            spacing: 4
                            Symbol {
                                anchors.horizontalCenter: parent.horizontalCenter
                                size: 15
                                name: tile.modelData.symbol
                                color: "white"
                            }
                            Text {
                                anchors.horizontalCenter: parent.horizontalCenter
                                text: tile.modelData.label
                                textFormat: Text.PlainText
                                color: "white"
                                font: tile.font
                            }
                        }
                    }
                }
            }
        }

        // What is sent where, and the switch that allows it.
        RowLayout {
            spacing: 10
            Layout.fillWidth: true
            Text {
                Layout.fillWidth: true
                text: panel.model.consentText
                textFormat: Text.PlainText
                color: panel.textDim
                font.pixelSize: 11
                wrapMode: Text.Wrap
            }
            ThemedSwitch {
                objectName: "quibConsent"
                overPicture: true
                checked: panel.model.cloudConsent
                onToggled: panel.model.cloudConsent = checked
            }
        }

        Text {
            objectName: "quibStatus"
            visible: panel.model.status.length > 0
            Layout.fillWidth: true
            text: panel.model.status
            textFormat: Text.PlainText
            color: panel.textDim
            font.pixelSize: 11
            wrapMode: Text.Wrap
        }
    }
}
