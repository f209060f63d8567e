#include "addfilebodydevice.h"

AddFileBodyDevice::AddFileBodyDevice(const QString& filePath, qint64 size, QObject* parent)
    : QIODevice(parent)
    , file(filePath)
    , declaredSize(qMax<qint64>(size, 0))
{ }

bool AddFileBodyDevice::seek(qint64 pos)
{
    if (pos < 0 || pos > declaredSize || !QIODevice::seek(pos))
        return false;
    offset = pos;
    return true;
}

void AddFileBodyDevice::close()
{
    file.close();
    offset = 0;
    QIODevice::close();
}

qint64 AddFileBodyDevice::readData(char* data, qint64 maxSize)
{
    if (offset >= declaredSize)
        return 0;
    if (!file.isOpen() && !file.open(QIODevice::ReadOnly)) {
        setErrorString(file.errorString());
        return -1;
    }
    if (file.pos() != offset && !file.seek(offset)) {
        setErrorString(file.errorString());
        file.close();
        return -1;
    }
    const qint64 got = file.read(data, qMin(maxSize, declaredSize - offset));
    if (got <= 0) {
        setErrorString(
            got == 0 ? tr("%1 became shorter during the upload").arg(file.fileName()) : file.errorString());
        file.close();
        return -1;
    }
    offset += got;
    if (offset >= declaredSize)
        file.close();
    return got;
}

qint64 AddFileBodyDevice::writeData(const char* data, qint64 maxSize)
{
    Q_UNUSED(data)
    Q_UNUSED(maxSize)
    return -1;
}
