import QtQuick
import Dovrel.Controller

// The product's star mark, filled with `color` (the accent green unless told), fitted into the item.
StarMarkItem {
    color: Theme.accent
}
