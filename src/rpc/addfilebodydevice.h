#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>

// The body of one file part of an upload: exactly the size the file had when the upload was
// built, read from disk only while the network layer sends that part.
//
// The file is opened on the first read and closed at its end, so a folder of thousands of files
// never holds thousands of descriptors. A file that shrinks meanwhile ends the read with an error
// (the declared length can no longer be met); one that grows is cut at the declared size.
class AddFileBodyDevice : public QIODevice
{
    Q_OBJECT

public:
    AddFileBodyDevice(const QString& filePath, qint64 size, QObject* parent = nullptr);

    bool isSequential() const override { return false; }
    qint64 size() const override { return declaredSize; }
    bool seek(qint64 pos) override;
    bool atEnd() const override { return offset >= declaredSize; }
    void close() override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    QFile file;
    qint64 declaredSize = 0;
    qint64 offset = 0;
};
