import QtQuick
import QtQuick.Layouts

// Whether a paired device can wake this computer from sleep over the network.
ColumnLayout {
    id: section
    required property var vm
    required property Theme theme
    spacing: 8
    Layout.fillWidth: true

    SectionHeader {
        theme: section.theme
        symbol: "power"
        title: qsTr("Wake from sleep")
    }
    Caption {
        theme: section.theme
        text: qsTr("Your device can wake this computer from sleep (asleep, not powered off) - just tap its card in the app.")
    }
    FixRowView {
        objectName: "wakeRow"
        row: section.vm.wake
        theme: section.theme
        label: section.vm.wakeText
        actionText: section.vm.wakeButtonText
        actionAlways: true
    }
    Caption {
        theme: section.theme
        small: true
        textFormat: Text.StyledText
        text: qsTr("Reliable on Ethernet, desktops and when plugged into power. A laptop on <b>battery over Wi-Fi</b> usually can’t be woken - most Wi-Fi cards do not wake on battery. Keep it on power for remote wake.")
    }
}
