#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QList>
#include <QString>

// The multipart/form-data body of one upload, produced while the network layer sends it.
//
// Each file is read from disk only while its own part goes out, at exactly the size it had when
// the part was appended: a file that shrinks meanwhile ends the upload with an error (the
// declared length can no longer be met), one that grows is cut at that size. One file is open at
// a time, so a folder of many thousands of files needs no more descriptors than a single file,
// and finding the part at the read position does not depend on the number of parts.
class AddMultipartBody : public QIODevice
{
    Q_OBJECT

public:
    explicit AddMultipartBody(QObject* parent = nullptr);

    QByteArray contentType() const; // "multipart/form-data; boundary=..."
    // Why reading a file for the body failed, naming the file; empty while nothing failed.
    QString readFailure() const { return failure; }
    int partCount() const { return int(parts.size()); }

    // headers: the part's header lines, each "Name: value" without line ends.
    void appendPart(const QList<QByteArray>& headers);
    void appendFilePart(const QList<QByteArray>& headers, const QString& filePath, qint64 fileSize);

    bool open(OpenMode mode) override; // read-only; fixes the layout
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override { return totalSize; }
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    struct Part {
        QByteArray head; // boundary line, header lines and the blank line
        QString filePath; // empty for a part without body
        qint64 bodySize = 0;
        qint64 start = 0; // offset of the part in the body
    };

    qint64 partEnd(int index) const;
    void locate(qint64 pos);
    qint64 readFileBody(const Part& part, qint64 offset, char* data, qint64 maxSize);
    qint64 fail(const QString& message);

    QByteArray boundary;
    QList<Part> parts;
    QByteArray closing;
    qint64 totalSize = 0;
    qint64 position = 0;
    int current = 0; // part that holds position; parts.size() within the closing boundary
    QFile file;
    int fileIndex = -1; // part whose file is open
    QString failure;
};
