#include "runtime/clipboard/ClipboardFileList.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace dovrel {

std::vector<std::string> clipboardFilePaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

QMimeData* copiedFilesMimeData(const std::vector<std::string>& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (const std::string& path : paths) {
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
        urls.push_back(url);
        gnome += '\n';
        gnome += url.toEncoded();
    }
    data->setUrls(urls);
    data->setData("x-special/gnome-copied-files", gnome);
    return data;
}

bool clipboardPlainText(const QMimeData* data, std::string& text) {
    if (!data || !clipboardFilePaths(data).empty()) return false;
    bool plain = false;
    for (const QString& format : data->formats())
        plain = plain || format.startsWith("text/plain");
    if (!plain) return false;
    text = data->text().toStdString();
    return true;
}

} // namespace dovrel
