#pragma once

#include <memory>
#include <optional>

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/platform/ColorSchemeSource.h"
#include "controller/platform/UserDefaults.h"

namespace dovrel::controller {

// The window's appearance: the user's choice under "dovrel.controller.appearance" ("light", "dark";
// "dark" when nothing is stored; any other text follows the desktop's colour scheme), applied at once
// when the choice or the desktop's scheme changes. Main thread.
class AppearanceModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the window's appearance.")
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)
    Q_PROPERTY(QString preference READ preference NOTIFY preferenceChanged)

public:
    static constexpr std::string_view key = "dovrel.controller.appearance";

    AppearanceModel(std::shared_ptr<UserDefaults> defaults, ColorSchemeSource& desktop, QObject* parent = nullptr);

    bool dark() const { return dark_; }
    QString preference() const { return preference_; }

    // The scheme a stored text asks for: exactly "light" or "dark"; nothing (the desktop's) otherwise.
    static std::optional<ColorScheme> schemeFor(const QString& preference);

    // The deck's appearance button: "dark" when the stored text is "light", "light" otherwise.
    Q_INVOKABLE void toggle();

signals:
    void darkChanged();
    void preferenceChanged();

private:
    void update();

    std::shared_ptr<UserDefaults> defaults_;
    ColorSchemeSource& desktop_;
    QString preference_;
    bool dark_ = true;
};

} // namespace dovrel::controller
