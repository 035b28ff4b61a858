#include "controller/ui/look/AppearanceModel.h"

namespace dovrel::controller {

AppearanceModel::AppearanceModel(std::shared_ptr<UserDefaults> defaults, ColorSchemeSource& desktop, QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)), desktop_(desktop) {
    const auto stored = defaults_->string(key);
    preference_ = stored ? QString::fromStdString(*stored) : QStringLiteral("dark");
    connect(&desktop_, &ColorSchemeSource::changed, this, &AppearanceModel::update);
    update();
}

std::optional<ColorScheme> AppearanceModel::schemeFor(const QString& preference) {
    if (preference == QLatin1String("light")) return ColorScheme::light;
    if (preference == QLatin1String("dark")) return ColorScheme::dark;
    return std::nullopt;
}

void AppearanceModel::toggle() {
    preference_ = preference_ == QLatin1String("light") ? QStringLiteral("dark") : QStringLiteral("light");
    defaults_->setString(key, preference_.toStdString());
    emit preferenceChanged();
    update();
}

void AppearanceModel::update() {
    const bool dark = schemeFor(preference_).value_or(desktop_.current()) == ColorScheme::dark;
    if (dark == dark_) return;
    dark_ = dark;
    emit darkChanged();
}

} // namespace dovrel::controller
