#include <QtTest>

#include "addmultipartbody.h"

#include <QTemporaryDir>

// The upload body read the way the network layer reads it: in pieces of any size, and again
// from the start after a reset.
class TestAddMultipartBody : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString file(const QString& name, const QByteArray& content)
    {
        const QString path = dir.filePath(name);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            return {};
        return path;
    }

    static QByteArray readAllInPieces(AddMultipartBody& body, qint64 piece)
    {
        QByteArray all;
        QByteArray buffer(piece, Qt::Uninitialized);
        for (;;) {
            const qint64 got = body.read(buffer.data(), piece);
            if (got <= 0)
                break;
            all.append(buffer.constData(), got);
        }
        return all;
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void readsTheSameBytesInAnyPieces_data()
    {
        QTest::addColumn<qint64>("piece");
        QTest::newRow("1") << qint64(1);
        QTest::newRow("7") << qint64(7);
        QTest::newRow("4096") << qint64(4096);
        QTest::newRow("whole") << qint64(1 << 20);
    }

    void readsTheSameBytesInAnyPieces()
    {
        QFETCH(qint64, piece);
        const QString one = file(QStringLiteral("one"), "first file");
        const QString empty = file(QStringLiteral("empty"), QByteArray());
        QVERIFY(!one.isEmpty() && !empty.isEmpty());

        AddMultipartBody body;
        body.appendPart({ "Content-Disposition: form-data; name=\"file\"; filename=\"d\"",
            "Content-Type: application/x-directory" });
        body.appendFilePart({ "Content-Disposition: form-data; name=\"file\"; filename=\"d/one\"" }, one, 10);
        body.appendFilePart(
            { "Content-Disposition: form-data; name=\"file\"; filename=\"d/empty\"" }, empty, 0);
        QVERIFY(body.open(QIODevice::ReadOnly));

        const QByteArray boundary
            = body.contentType().mid(QByteArray("multipart/form-data; boundary=").size());
        QVERIFY(boundary.size() >= 32);
        const QByteArray expected = "--" + boundary + "\r\n"
            + "Content-Disposition: form-data; name=\"file\"; filename=\"d\"\r\n"
            + "Content-Type: application/x-directory\r\n\r\n\r\n" + "--" + boundary + "\r\n"
            + "Content-Disposition: form-data; name=\"file\"; filename=\"d/one\"\r\n\r\n" + "first file\r\n"
            + "--" + boundary + "\r\n"
            + "Content-Disposition: form-data; name=\"file\"; filename=\"d/empty\"\r\n\r\n\r\n" + "--"
            + boundary + "--\r\n";
        QCOMPARE(body.size(), qint64(expected.size()));
        QCOMPARE(readAllInPieces(body, piece), expected);
        QVERIFY(body.atEnd());

        // The network layer starts over when it has to resend.
        QVERIFY(body.reset());
        QCOMPARE(readAllInPieces(body, piece), expected);

        // And may resume in the middle of a file.
        const qint64 middle = expected.indexOf("file\r\n");
        QVERIFY(body.seek(middle));
        QCOMPARE(readAllInPieces(body, piece), expected.mid(middle));
    }

    void aFileThatShrankFailsTheRead()
    {
        const QString path = file(QStringLiteral("shrinks"), QByteArray(100, 's'));
        AddMultipartBody body;
        body.appendFilePart(
            { "Content-Disposition: form-data; name=\"file\"; filename=\"shrinks\"" }, path, 100);
        QVERIFY(body.open(QIODevice::ReadOnly));
        QVERIFY(QFile::resize(path, 40));
        QByteArray buffer(4096, Qt::Uninitialized);
        QCOMPARE(body.read(buffer.data(), buffer.size()), qint64(-1));
        QCOMPARE(body.readFailure(), path + QStringLiteral(" became shorter while it was being uploaded"));

        // One that vanished before its part went out.
        AddMultipartBody later;
        later.appendFilePart({ "Content-Disposition: form-data; name=\"file\"; filename=\"gone\"" },
            dir.filePath(QStringLiteral("gone")), 10);
        QVERIFY(later.open(QIODevice::ReadOnly));
        QCOMPARE(later.read(buffer.data(), buffer.size()), qint64(-1));
        QVERIFY(later.readFailure().startsWith(
            QStringLiteral("Cannot read %1: ").arg(dir.filePath(QStringLiteral("gone")))));
    }
};

QTEST_APPLESS_MAIN(TestAddMultipartBody)
#include "tst_addmultipartbody.moc"
