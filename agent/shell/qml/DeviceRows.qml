import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Whether the agent can see the screen and drive input, and whether video is leaving right now.
ColumnLayout {
    id: rows
    required property var vm
    required property Theme theme
    spacing: 8
    Layout.fillWidth: true

    FixRowView {
        objectName: "screenRow"
        row: rows.vm.screenCapture
        theme: rows.theme
    }
    FixRowView {
        objectName: "inputRow"
        row: rows.vm.inputControl
        theme: rows.theme
    }
    FixRowView {
        objectName: "clipboardRow"
        visible: !rows.vm.clipboardText.ok
        row: rows.vm.clipboardText
        theme: rows.theme
    }
    RowLayout {
        spacing: 8
        Layout.fillWidth: true
        Symbol {
            objectName: "videoMark"
            name: rows.vm.videoActive ? "video" : "video.slash"
            color: rows.vm.videoActive ? rows.theme.goodInk : rows.theme.textDim
            size: 15
        }
        Label {
            objectName: "videoText"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: rows.vm.videoText
            textFormat: Text.PlainText
            color: rows.vm.videoActive ? rows.theme.text : rows.theme.textDim
            font.pixelSize: rows.theme.body
        }
    }
}
