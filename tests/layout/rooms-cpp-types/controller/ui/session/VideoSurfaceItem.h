#pragma once
#include <QQuickItem>

class VideoSurfaceItem : public QQuickItem {
    Q_OBJECT
};
