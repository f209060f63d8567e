#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

// Names and paths of downloaded pin contents. A pin's names are chosen by whoever made the pin,
// so everything here keeps a save inside the folder the user chose.
namespace PinContents {

// One file or folder name that is safe on every desktop file system.
QString sanitizeFilenameComponent(const QString& name);
// A relative path of sanitised components with no "." or ".." left.
QString sanitizeRelativePath(const QString& path);
// Sizes as the contents tree shows them: bytes, then KB, MB and GB with one decimal.
QString formatSize(qint64 bytes);

// The names given so far in one folder, as uniqueFilenameComponent keeps them.
struct UniqueNames {
    QSet<QString> taken; // compared forms of the names given
    QHash<QString, int> nextNumber; // compared form of a wanted name -> the next "(n)" to try
};

// The component itself, or "<stem> (n)<suffix>" when a sibling already took it (compared
// case-insensitively and normalised, as Windows and macOS do). Records the returned name in taken.
QString uniqueFilenameComponent(const QString& component, UniqueNames& taken);
// ".png", ".jpg", ".gif", ".webp" or ".pdf" from the first bytes; empty when unknown.
QString guessedFileExtension(const QByteArray& data);

// Empty when base/relativePath may be written: no component below base is a symbolic link or
// junction and every existing part resolves inside base. Otherwise the reason, for the status line.
// base must be a canonical path.
QString checkSaveTarget(const QString& base, const QString& relativePath);
// Writes data to base/relativePath after checkSaveTarget, replacing the file as a whole (never
// through an existing link). On failure returns false and sets message.
bool writeContentFile(
    const QString& base, const QString& relativePath, const QByteArray& data, QString* message);

} // namespace PinContents
