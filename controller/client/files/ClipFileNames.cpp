#include "controller/client/files/ClipFileNames.h"

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

// The longest start of `text` of at most `bytes` UTF-8 bytes that ends between two user-perceived
// characters; when not even the first fits (a letter under hundreds of combining marks), between two
// code points instead.
QString firstBytes(const QString& text, qsizetype bytes) {
    const auto fits = [&](qsizetype end) { return text.left(end).toUtf8().size() <= bytes; };
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0 && fits(next); next = finder.toNextBoundary())
        end = next;
    if (end > 0) return text.left(end);
    for (qsizetype next = 0; next < text.size();) {
        next += text.at(next).isHighSurrogate() && next + 1 < text.size() ? 2 : 1;
        if (!fits(next)) break;
        end = next;
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
    // Cut by bytes, which is what a file name is limited by.
    QString cut = firstBytes(kept, 150);
    const QString extension = extensionOf(kept);
    if (!extension.isEmpty()) cut += "." + firstBytes(extension, 20);
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
