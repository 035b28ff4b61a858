#include "controller/client/ClipFileNames.h"

#include <set>

#include <QList>
#include <QString>
#include <QTextBoundaryFinder>

namespace dovrel::controller {

std::optional<std::string> clipOfferRefusal(const std::vector<wex::ClipFileEntry>& files) {
    if (files.size() > ClipOfferLimits::maxFiles)
        return std::to_string(files.size()) + " files, limit " + std::to_string(ClipOfferLimits::maxFiles);
    uint64_t total = 0;
    for (const auto& entry : files) {
        if (entry.size > ClipOfferLimits::maxFileBytes)
            return "a file declares " + std::to_string(entry.size) + " bytes";
        total += entry.size; // both at most 2^32 here: no overflow
        if (total > ClipOfferLimits::maxTotalBytes)
            return "declared total over " + std::to_string(ClipOfferLimits::maxTotalBytes);
    }
    return std::nullopt;
}

namespace {

// The text after the last dot, when there is one that neither starts the name nor ends it.
QString extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0 || dot == name.size() - 1) return {};
    return name.mid(dot + 1);
}

// The first `count` user-perceived characters of `text`.
QString firstCharacters(const QString& text, int count) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int taken = 0;
    qsizetype end = 0;
    while (taken < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) break;
        end = next;
        ++taken;
    }
    return text.left(end);
}

} // namespace

std::string safeClipFileName(const std::string& name) {
    QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (QChar& c : text)
        if (c == '/' || c == ':' || c == '\\' || c == QChar(0)) c = '_';
    text = text.trimmed();
    QString kept;
    for (const char32_t scalar : text.toUcs4()) {
        const QChar::Category category = QChar::category(scalar);
        if (category == QChar::Other_Control || category == QChar::Other_Format) continue;
        kept += QString::fromUcs4(&scalar, 1);
    }
    if (kept.isEmpty() || kept == "." || kept == "..") return "file.bin";
    if (kept.toUtf8().size() <= 200) return kept.toStdString();
    QString cut = firstCharacters(kept, 150);
    const QString extension = extensionOf(kept);
    if (!extension.isEmpty()) cut += "." + firstCharacters(extension, 20);
    return cut.toStdString();
}

std::vector<std::string> distinctClipFileNames(const std::vector<wex::ClipFileEntry>& files) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const auto& entry : files) {
        const std::string safe = safeClipFileName(entry.name);
        std::string name = safe;
        if (taken.count(name)) {
            const QString q = QString::fromStdString(safe);
            const QString extension = extensionOf(q);
            const QString base = extension.isEmpty() ? q : q.left(q.size() - extension.size() - 1);
            for (int n = 2; taken.count(name); ++n) {
                QString candidate = base + QString(" (%1)").arg(n);
                if (!extension.isEmpty()) candidate += "." + extension;
                name = candidate.toStdString();
            }
        }
        taken.insert(name);
        names.push_back(name);
    }
    return names;
}

} // namespace dovrel::controller
