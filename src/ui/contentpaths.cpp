#include "contentpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace PinContents {

namespace {

bool isForbiddenCharacter(QChar c)
{
    if (c.unicode() < 0x20 || c.category() == QChar::Other_Control)
        return true;
    switch (c.unicode()) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

// Windows opens a device for these names, whatever the extension. The numbered ones take any
// digit and the superscripts one to three.
bool isReservedDeviceName(const QString& name)
{
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList plain = { QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
        QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$") };
    if (plain.contains(stem))
        return true;
    if (stem.size() != 4 || !(stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))))
        return false;
    const char16_t number = stem.at(3).unicode();
    return (number >= u'0' && number <= u'9') || number == u'\u00b9' || number == u'\u00b2'
        || number == u'\u00b3';
}

// Siblings whose names differ only in case (Windows, macOS) or in Unicode normalisation (macOS)
// are one file there.
QString collisionKey(const QString& component)
{
    return component.normalized(QString::NormalizationForm_C).toCaseFolded();
}

bool isInside(const QString& base, const QString& path)
{
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return path.compare(base, cs) == 0 || path.startsWith(prefix, cs);
}

} // namespace

QString sanitizeFilenameComponent(const QString& name)
{
    QString result = name.trimmed();
    for (QChar& c : result) {
        if (isForbiddenCharacter(c))
            c = QLatin1Char('_');
    }
    while (!result.isEmpty() && (result.back() == QLatin1Char('.') || result.back().isSpace()))
        result.chop(1);
    if (result.isEmpty() || result == QLatin1String(".") || result == QLatin1String(".."))
        return QStringLiteral("file");
    if (isReservedDeviceName(result))
        result.prepend(QLatin1Char('_'));
    return result;
}

QString sanitizeRelativePath(const QString& path)
{
    QStringList parts;
    const QStringList raw = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : raw) {
        if (part == QLatin1String("."))
            continue;
        parts.append(part == QLatin1String("..") ? QStringLiteral("_") : sanitizeFilenameComponent(part));
    }
    return parts.isEmpty() ? QStringLiteral("file") : parts.join(QLatin1Char('/'));
}

QString formatSize(qint64 bytes)
{
    if (bytes <= 1023)
        return QString::number(bytes);
    if (bytes <= 1048575)
        return QString::number(bytes / 1024.0, 'f', 1) + QLatin1String(" KB");
    if (bytes <= 1073741823)
        return QString::number(bytes / 1048576.0, 'f', 1) + QLatin1String(" MB");
    return QString::number(bytes / 1073741824.0, 'f', 1) + QLatin1String(" GB");
}

QString uniqueFilenameComponent(const QString& component, UniqueNames& taken)
{
    const QString key = collisionKey(component);
    if (!taken.taken.contains(key)) {
        taken.taken.insert(key);
        return component;
    }
    // "a.txt" -> "a (2).txt"; a leading dot (".bashrc") is part of the stem. The numbers tried for
    // a name are remembered, so that thousands of siblings of one name cost no more than others.
    const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? component.left(dot) : component;
    const QString suffix = dot > 0 ? component.mid(dot) : QString();
    int& next = taken.nextNumber[key];
    for (int n = qMax(next, 2);; ++n) {
        // One multi-argument arg(): chained calls would read a "%1" inside the name as a placeholder.
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem, QString::number(n), suffix);
        const QString candidateKey = collisionKey(candidate);
        if (!taken.taken.contains(candidateKey)) {
            taken.taken.insert(candidateKey);
            next = n + 1;
            return candidate;
        }
    }
}

QString guessedFileExtension(const QByteArray& data)
{
    if (data.startsWith(QByteArrayLiteral("\x89PNG\r\n\x1a\n")))
        return QStringLiteral(".png");
    if (data.startsWith(QByteArrayLiteral("\xff\xd8\xff")))
        return QStringLiteral(".jpg");
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return QStringLiteral(".gif");
    if (data.size() > 11 && data.startsWith("RIFF") && data.mid(8, 4) == "WEBP")
        return QStringLiteral(".webp");
    if (data.startsWith("%PDF-"))
        return QStringLiteral(".pdf");
    return {};
}

QString checkSaveTarget(const QString& base, const QString& relativePath)
{
    const QStringList parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // Every part, not only those that exist: "new/../../x" would climb out once "new" is created.
    for (const QString& part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("Refusing to write outside the chosen folder: %1").arg(relativePath);
    }
    QString current = base;
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QFileInfo info(current);
        if (info.isSymLink() || info.isJunction())
            return QStringLiteral("Refusing to write through a symbolic link: %1")
                .arg(QDir::toNativeSeparators(current));
        if (!info.exists())
            break; // nothing deeper exists yet; the caller creates it
        if (!isInside(base, info.canonicalFilePath()))
            return QStringLiteral("Refusing to write outside the chosen folder: %1")
                .arg(QDir::toNativeSeparators(current));
    }
    return {};
}

bool writeContentFile(
    const QString& base, const QString& relativePath, const QByteArray& data, QString* message)
{
    // Checked again here, just before writing, in case the folder changed since the save began.
    const QString problem = checkSaveTarget(base, relativePath);
    if (!problem.isEmpty()) {
        *message = problem;
        return false;
    }
    const QString path = base + QLatin1Char('/') + relativePath;
    // QSaveFile writes a new file and renames it over the old one, so an existing hard link or
    // a file swapped in meanwhile is replaced, not written into; a failed write leaves no torn file.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *message = QStringLiteral("Cannot write: %1").arg(file.errorString());
        return false;
    }
    if (file.write(data) != data.size() || !file.commit()) {
        *message = QStringLiteral("Failed to write %1").arg(QFileInfo(path).fileName());
        return false;
    }
    return true;
}

} // namespace PinContents
