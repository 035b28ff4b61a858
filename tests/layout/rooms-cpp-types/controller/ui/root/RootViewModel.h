#pragma once
#include <QObject>

class RootViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
};
