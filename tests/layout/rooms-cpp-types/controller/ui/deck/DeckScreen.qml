import QtQuick
import Dovrel.Controller

Item {
    required property WEXClient client
    required property RootViewModel root
    SignInModel {}
    VideoSurfaceItem {}
}
