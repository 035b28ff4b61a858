pragma Singleton
import QtQuick
import QtQuick.Window

// What the title area does to its window, for the buttons and the drag area alike.
QtObject {
    function maximized(window: var): bool {
        return window !== null && window.visibility === Window.Maximized
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
