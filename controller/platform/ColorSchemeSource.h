#pragma once

#include <memory>

#include <QObject>
#include <QString>

namespace dovrel::controller {

enum class ColorScheme { light, dark };

// The desktop's colour scheme (light or dark) and its changes. Main thread.
class ColorSchemeSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    virtual ColorScheme current() const = 0;

signals:
    void changed();
};

// The desktop portal's "color-scheme" (org.freedesktop.appearance) over the session bus, followed as
// it changes; where no portal answers or it states no preference, the application palette's window
// colour decides (a dark window means a dark scheme). Never blocks: the first answer arrives later and
// announces itself through changed(). `busAddress` names the session bus; empty: the user's.
std::unique_ptr<ColorSchemeSource> makeDesktopColorScheme(const QString& busAddress);

} // namespace dovrel::controller
