import QtQuick
import Dovrel.Controller

// Hosts the assistant's panel; RootView and DeckScreen are named here only in words.
Rectangle {
    color: Theme.accent
    TitleDragArea {}
    DovrelLoadingView {}
    QuibPanel {}
    Loader {
        sourceComponent: DemoDesktop {}
    }
}
