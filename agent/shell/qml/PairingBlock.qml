import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import DovrelAgent
import Dovrel.Look

// Everything a person needs to pair a device: the QR code, the share code or the pairing code, and the
// set-up by hand.
ColumnLayout {
    id: block
    required property var vm
    required property Theme theme
    readonly property var app: vm.app
    spacing: 8
    Layout.fillWidth: true

    Label {
        Layout.alignment: Qt.AlignHCenter
        text: qsTr("SCAN TO PAIR")
        textFormat: Text.PlainText
        color: block.theme.textDimmer
        font.pixelSize: block.theme.caption
        font.weight: Font.DemiBold
        font.letterSpacing: 1.6
    }

    Rectangle {
        objectName: "qrFrame"
        Layout.alignment: Qt.AlignHCenter
        visible: qr.valid || block.vm.codePaused
        implicitWidth: 166
        implicitHeight: 166
        radius: 12
        color: block.vm.codePaused ? "transparent" : "white"
        border.color: block.theme.stroke
        border.width: block.theme.dark && !block.vm.codePaused ? 0 : 1
        // Nothing to scan while pairing by code is paused: the frame keeps its place, and the notice
        // below says why.
        Symbol {
            objectName: "qrPaused"
            anchors.centerIn: parent
            visible: block.vm.codePaused
            name: "pause"
            color: block.theme.textDimmer
            opacity: 0.6
            size: 40
        }
        QrCode {
            id: qr
            objectName: "qrCode"
            visible: !block.vm.codePaused
            x: 8
            y: 8
            width: 150
            height: 150
            text: block.vm.qrText
        }
    }

    // The share code, when the account service has issued one.
    ColumnLayout {
        objectName: "shareGroup"
        visible: block.vm.hasShareCode
        spacing: 8
        Layout.fillWidth: true
        Caption {
            theme: block.theme
            small: true
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("- or share this code -")
        }
        MonoText {
            objectName: "shareCode"
            theme: block.theme
            Layout.alignment: Qt.AlignHCenter
            opacity: block.vm.codePaused ? 0.35 : 1
            text: block.app.shareCode
            font.pixelSize: block.theme.display
            font.bold: true
            font.letterSpacing: 2
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            spacing: 8
            IconButton {
                objectName: "copyShareCode"
                theme: block.theme
                symbol: block.vm.copied ? "checkmark" : "copy"
                text: block.vm.copyShareCodeText
                enabled: !block.vm.codePaused
                onClicked: block.vm.copyShareCode()
            }
            LinkButton {
                objectName: "newShareCode"
                theme: block.theme
                text: qsTr("New")
                enabled: block.vm.canNewShareCode
                onClicked: block.vm.newShareCode()
            }
        }
        Caption {
            objectName: "shareCodeNote"
            theme: block.theme
            small: true
            horizontalAlignment: Text.AlignHCenter
            text: block.vm.shareCodeNoteLine
        }
        Caption {
            theme: block.theme
            // While paused the pause notice below says what to do instead.
            visible: !block.vm.codePaused
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("Scan the QR if the device is here - or send this code to anyone, anywhere. Works on a computer or a phone, with no scanning.")
        }
    }

    // The pairing code, while there is no share code.
    ColumnLayout {
        objectName: "codeGroup"
        visible: !block.vm.hasShareCode
        spacing: 8
        Layout.fillWidth: true
        Caption {
            theme: block.theme
            small: true
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("- or enter manually -")
        }
        Label {
            objectName: "bigPairingCode"
            Layout.alignment: Qt.AlignHCenter
            text: block.app.pairingCode
            textFormat: Text.PlainText
            color: block.theme.text
            opacity: block.vm.codePaused ? 0.35 : 1
            font.pixelSize: block.theme.display
            font.bold: true
            font.letterSpacing: 6
        }
        Caption {
            objectName: "codeRedrawnNote"
            visible: text.length > 0
            theme: block.theme
            small: true
            color: block.theme.warnInk
            horizontalAlignment: Text.AlignHCenter
            text: block.vm.codeRedrawnText
        }
        Caption {
            objectName: "codeWindowNote"
            visible: text.length > 0
            theme: block.theme
            small: true
            horizontalAlignment: Text.AlignHCenter
            text: block.vm.codeNote
        }
        Caption {
            theme: block.theme
            // While paused the pause notice below says what to do instead.
            visible: !block.vm.codePaused
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("In DOVRELÆ on the other computer, paste this computer's pairing link or type its network address and this code (Set up by hand shows them), or scan the QR code with a phone.")
        }
    }

    // Pairing by code stopped after too many wrong codes: what happened, from where, and the way on.
    Card {
        objectName: "pauseNotice"
        visible: block.vm.pauseText.length > 0
        Layout.fillWidth: true
        corner: 10
        color: Qt.alpha(block.theme.warn, block.theme.dark ? 0.1 : 0.14)
        border.color: Qt.alpha(block.theme.warn, 0.6)
        inset: 12
        spacing: 10
        RowLayout {
            spacing: 8
            Layout.fillWidth: true
            Symbol {
                Layout.alignment: Qt.AlignTop
                Layout.topMargin: 1
                name: "warning"
                color: block.theme.warnMark
                size: 14
            }
            Caption {
                objectName: "pauseText"
                theme: block.theme
                color: block.theme.text
                text: block.vm.pauseText
            }
        }
        IconButton {
            objectName: "newPairingCode"
            theme: block.theme
            primary: true
            symbol: "renew"
            text: qsTr("New pairing code")
            onClicked: block.vm.newPairingCode()
        }
    }

    // Set up by hand: a disclosure that keeps its state while the window lives.
    ColumnLayout {
        spacing: 8
        Layout.fillWidth: true
        Layout.topMargin: 2
        LinkButton {
            objectName: "manualToggle"
            theme: block.theme
            text: (block.vm.showManual ? "▾ " : "▸ ") + qsTr("Set up by hand")
            onClicked: block.vm.showManual = !block.vm.showManual
        }
        ColumnLayout {
            objectName: "manualBox"
            visible: block.vm.showManual
            spacing: 8
            Layout.fillWidth: true
            RowLayout {
                spacing: 8
                Label {
                    text: qsTr("Pairing code")
                    textFormat: Text.PlainText
                    color: block.theme.textDim
                    font.pixelSize: block.theme.detail
                }
                MonoText {
                    objectName: "manualPairingCode"
                    theme: block.theme
                    opacity: block.vm.codePaused ? 0.35 : 1
                    text: block.app.pairingCode
                    font.pixelSize: block.theme.headline
                    font.weight: Font.DemiBold
                }
            }
            Caption {
                objectName: "manualRedrawnNote"
                visible: text.length > 0
                theme: block.theme
                small: true
                color: block.theme.warnInk
                text: block.vm.manualRedrawnText
            }
            CodeText {
                objectName: "lanLine"
                theme: block.theme
                text: block.vm.lanLine
            }
            CodeText {
                objectName: "overlayLine"
                theme: block.theme
                text: block.vm.overlayLine
            }
            IconButton {
                objectName: "copyPairingLink"
                theme: block.theme
                symbol: block.vm.linkCopied ? "checkmark" : "copy"
                text: block.vm.copyLinkText
                enabled: !block.vm.codePaused
                onClicked: block.vm.copyPairingLink()
            }
            Caption {
                objectName: "manualCodeNote"
                theme: block.theme
                visible: text.length > 0
                small: true
                text: block.vm.manualCodeNote
            }
        }
    }
}
