import QtQuick

// Words to copy by hand (a code, an address, a command): monospaced, plain, selectable, in the theme's
// selection colours.
TextEdit {
    required property Theme theme
    textFormat: TextEdit.PlainText
    readOnly: true
    selectByMouse: true
    selectionColor: theme.accent
    selectedTextColor: theme.accentLabel
    color: theme.text
    font.family: "DejaVu Sans Mono"
}
