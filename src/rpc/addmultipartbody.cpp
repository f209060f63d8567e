#include "addmultipartbody.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

namespace {

const QByteArray kPartEnd = QByteArrayLiteral("\r\n");

} // namespace

AddMultipartBody::AddMultipartBody(QObject* parent)
    : QIODevice(parent)
{
    // Random, so that it cannot be expected inside a file's content.
    QByteArray random(24, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    boundary = QByteArrayLiteral("vaxel-") + random.toHex();
    closing = "--" + boundary + "--\r\n";
}

QByteArray AddMultipartBody::contentType() const
{
    return QByteArrayLiteral("multipart/form-data; boundary=") + boundary;
}

void AddMultipartBody::appendPart(const QList<QByteArray>& headers)
{
    appendFilePart(headers, QString(), 0);
}

void AddMultipartBody::appendFilePart(
    const QList<QByteArray>& headers, const QString& filePath, qint64 fileSize)
{
    Part part;
    part.head = "--" + boundary + "\r\n";
    for (const QByteArray& header : headers)
        part.head += header + "\r\n";
    part.head += "\r\n";
    part.filePath = filePath;
    part.bodySize = qMax<qint64>(fileSize, 0);
    parts.append(part);
}

bool AddMultipartBody::open(OpenMode mode)
{
    if ((mode & WriteOnly) || !QIODevice::open(mode | Unbuffered))
        return false;
    qint64 offset = 0;
    for (Part& part : parts) {
        part.start = offset;
        offset += part.head.size() + part.bodySize + kPartEnd.size();
    }
    totalSize = offset + closing.size();
    position = 0;
    current = 0;
    return true;
}

void AddMultipartBody::close()
{
    file.close();
    fileIndex = -1;
    QIODevice::close();
}

bool AddMultipartBody::seek(qint64 pos)
{
    if (pos < 0 || pos > totalSize || !QIODevice::seek(pos))
        return false;
    position = pos;
    locate(pos);
    return true;
}

qint64 AddMultipartBody::partEnd(int index) const
{
    return index + 1 < parts.size() ? parts.at(index + 1).start : totalSize - closing.size();
}

void AddMultipartBody::locate(qint64 pos)
{
    const auto after = std::upper_bound(
        parts.cbegin(), parts.cend(), pos, [](qint64 value, const Part& part) { return value < part.start; });
    current = after == parts.cbegin() ? 0 : int(after - parts.cbegin()) - 1;
    if (!parts.isEmpty() && pos >= partEnd(current))
        current = int(parts.size());
}

qint64 AddMultipartBody::fail(const QString& message)
{
    file.close();
    fileIndex = -1;
    failure = message;
    setErrorString(message);
    return -1;
}

qint64 AddMultipartBody::readFileBody(const Part& part, qint64 offset, char* data, qint64 maxSize)
{
    if (fileIndex != current) {
        file.close();
        file.setFileName(part.filePath);
        if (!file.open(QIODevice::ReadOnly))
            return fail(tr("Cannot read %1: %2").arg(part.filePath, file.errorString()));
        fileIndex = current;
    }
    if (file.pos() != offset && !file.seek(offset))
        return fail(tr("Cannot read %1: %2").arg(part.filePath, file.errorString()));
    const qint64 got = file.read(data, qMin(maxSize, part.bodySize - offset));
    if (got == 0)
        return fail(tr("%1 became shorter while it was being uploaded").arg(part.filePath));
    if (got < 0)
        return fail(tr("Cannot read %1: %2").arg(part.filePath, file.errorString()));
    if (offset + got >= part.bodySize) {
        file.close();
        fileIndex = -1;
    }
    return got;
}

qint64 AddMultipartBody::readData(char* data, qint64 maxSize)
{
    qint64 done = 0;
    while (done < maxSize && position < totalSize) {
        const qint64 room = maxSize - done;
        qint64 copied = 0;
        if (current >= parts.size()) {
            const qint64 offset = position - (totalSize - closing.size());
            copied = qMin(room, closing.size() - offset);
            std::memcpy(data + done, closing.constData() + offset, size_t(copied));
        } else {
            const Part& part = parts.at(current);
            const qint64 offset = position - part.start;
            const qint64 bodyStart = part.head.size();
            const qint64 bodyEnd = bodyStart + part.bodySize;
            if (offset < bodyStart) {
                copied = qMin(room, bodyStart - offset);
                std::memcpy(data + done, part.head.constData() + offset, size_t(copied));
            } else if (offset < bodyEnd) {
                copied = readFileBody(part, offset - bodyStart, data + done, room);
                if (copied < 0)
                    return -1;
            } else {
                copied = qMin(room, bodyEnd + kPartEnd.size() - offset);
                std::memcpy(data + done, kPartEnd.constData() + (offset - bodyEnd), size_t(copied));
            }
        }
        done += copied;
        position += copied;
        if (current < parts.size() && position >= partEnd(current))
            ++current;
    }
    return done;
}

qint64 AddMultipartBody::writeData(const char* data, qint64 maxSize)
{
    Q_UNUSED(data)
    Q_UNUSED(maxSize)
    return -1;
}
