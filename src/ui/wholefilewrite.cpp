#include "wholefilewrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A device or pipe is written in place: renaming a temporary file over it would replace it.
QString writeInPlace(const QString& path, const QByteArray& content, QIODevice::OpenMode extraMode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | extraMode))
        return file.errorString();
    if (file.write(content) != content.size() || !file.flush())
        return file.errorString();
    return {};
}

} // namespace

QString writeWholeFile(const QString& path, const QByteArray& content, QIODevice::OpenMode extraMode)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return writeInPlace(path, content, extraMode);

    QSaveFile file(path);
    // A file the user may write in a folder where no temporary file can be made.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | extraMode))
        return file.errorString();
    if (file.write(content) != content.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
