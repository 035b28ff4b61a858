#pragma once
#include <QObject>

class PairingViewModel : public QObject {
    Q_OBJECT
};
