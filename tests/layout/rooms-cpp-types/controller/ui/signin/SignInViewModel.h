#pragma once
#include <QObject>

class SignInViewModel : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(SignInModel)
};
