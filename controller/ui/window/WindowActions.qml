pragma Singleton
import QtQuick
import QtQuick.Window

// What the title area does to its window, for the buttons and the drag area alike.
QtObject {
    function maximized(window: var): bool {
        return window !== null && window.visibility === Window.Maximized
    }
    // A window of its own size: its edges resize it.
    function windowed(window: var): bool {
        return window !== null && window.visibility === Window.Windowed
    }
    // Shown, and not in full screen: it has a title area.
    function titled(window: var): bool {
        return window !== null && window.visibility !== Window.FullScreen
    }
    // Whether the window was maximised when it went to full screen: leaving full screen gives that back.
    property bool maximizedBeforeFullScreen: false
    function toggleFullScreen(window: var) {
        if (!window)
            return
        if (window.visibility !== Window.FullScreen) {
            maximizedBeforeFullScreen = maximized(window)
            window.showFullScreen()
        } else if (maximizedBeforeFullScreen) {
            window.showMaximized()
        } else {
            window.showNormal()
        }
    }
    // Maximised windows come back to their size; others fill the screen.
    function toggleMaximized(window: var) {
        if (!window)
            return
        if (maximized(window))
            window.showNormal()
        else
            window.showMaximized()
    }
}
