#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "contentpaths.h"
#include "gateway.h"

using namespace PinContents;

// Names from a pin are chosen by whoever made it: these functions are what keeps a save
// inside the folder the user picked.
class TestContentPaths : public QObject
{
    Q_OBJECT

private slots:
    void sanitizeFilenameComponent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("reserved characters and trailing dot-blank")
            << QStringLiteral("a:b?.txt. ") << QStringLiteral("a_b_.txt");
        QTest::newRow("dot dot") << QStringLiteral("..") << QStringLiteral("file");
        QTest::newRow("dot") << QStringLiteral(".") << QStringLiteral("file");
        QTest::newRow("blanks") << QStringLiteral("   ") << QStringLiteral("file");
        QTest::newRow("empty") << QString() << QStringLiteral("file");
        QTest::newRow("only dots and blanks") << QStringLiteral(". . .") << QStringLiteral("file");
        QTest::newRow("traversal") << QStringLiteral("../../etc/passwd")
                                   << QStringLiteral(".._.._etc_passwd");
        QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << QStringLiteral("_etc_passwd");
        QTest::newRow("windows absolute")
            << QStringLiteral("C:\\Windows\\win.ini") << QStringLiteral("C__Windows_win.ini");
        QTest::newRow("unc") << QStringLiteral("\\\\server\\share") << QStringLiteral("__server_share");
        QTest::newRow("nul inside") << QString::fromUtf16(u"a\u0000b", 3) << QStringLiteral("a_b");
        QTest::newRow("tab and newline") << QStringLiteral("a\tb\nc") << QStringLiteral("a_b_c");
        QTest::newRow("delete and C1 control")
            << QString::fromUtf16(u"a\u007fb\u0085c") << QStringLiteral("a_b_c");
        QTest::newRow("wildcards and quotes") << QStringLiteral("<>|*\"") << QStringLiteral("_____");
        QTest::newRow("alternate data stream")
            << QStringLiteral("file.txt:evil") << QStringLiteral("file.txt_evil");
        QTest::newRow("device name") << QStringLiteral("CON") << QStringLiteral("_CON");
        QTest::newRow("device name with extension")
            << QStringLiteral("nul.txt") << QStringLiteral("_nul.txt");
        QTest::newRow("numbered device") << QStringLiteral("com1.log") << QStringLiteral("_com1.log");
        QTest::newRow("device zero") << QStringLiteral("COM0") << QStringLiteral("_COM0");
        QTest::newRow("superscript device")
            << QString::fromUtf16(u"lpt\u00b2.txt") << QString::fromUtf16(u"_lpt\u00b2.txt");
        QTest::newRow("console input") << QStringLiteral("conin$") << QStringLiteral("_conin$");
        QTest::newRow("not a device") << QStringLiteral("COM10") << QStringLiteral("COM10");
        QTest::newRow("longer word") << QStringLiteral("console") << QStringLiteral("console");
        QTest::newRow("inner blanks kept")
            << QStringLiteral("  my file.txt ") << QStringLiteral("my file.txt");
        QTest::newRow("unicode kept") << QStringLiteral("фото—1.jpg") << QStringLiteral("фото—1.jpg");
    }

    void sanitizeFilenameComponent()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(PinContents::sanitizeFilenameComponent(name), expected);
        // Sanitising twice changes nothing: the tree's names are used again as path parts.
        QCOMPARE(PinContents::sanitizeFilenameComponent(expected), expected);
    }

    void sanitizeRelativePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("dots") << QStringLiteral("x/../y/./z") << QStringLiteral("x/_/y/z");
        QTest::newRow("absolute") << QStringLiteral("/abs/path") << QStringLiteral("abs/path");
        QTest::newRow("empty") << QString() << QStringLiteral("file");
        QTest::newRow("only dots") << QStringLiteral("./.") << QStringLiteral("file");
        QTest::newRow("leading traversal") << QStringLiteral("../../x") << QStringLiteral("_/_/x");
        QTest::newRow("double slash") << QStringLiteral("a//b") << QStringLiteral("a/b");
        QTest::newRow("backslash traversal") << QStringLiteral("..\\..\\x") << QStringLiteral(".._.._x");
        QTest::newRow("padded dots") << QStringLiteral("a/ .. /b") << QStringLiteral("a/file/b");
        QTest::newRow("drive letter") << QStringLiteral("C:/x") << QStringLiteral("C_/x");
    }

    void sanitizeRelativePath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(PinContents::sanitizeRelativePath(path), expected);
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << qint64(0) << QStringLiteral("0");
        QTest::newRow("1023") << qint64(1023) << QStringLiteral("1023");
        QTest::newRow("1024") << qint64(1024) << QStringLiteral("1.0 KB");
        QTest::newRow("1048575") << qint64(1048575) << QStringLiteral("1024.0 KB");
        QTest::newRow("1048576") << qint64(1048576) << QStringLiteral("1.0 MB");
        QTest::newRow("1073741824") << qint64(1073741824) << QStringLiteral("1.0 GB");
        QTest::newRow("negative") << qint64(-5) << QStringLiteral("-5");
    }

    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, expected);
        QCOMPARE(PinContents::formatSize(bytes), expected);
    }

    void uniqueFilenameComponent_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("sanitised alike and case")
            << QStringList { QStringLiteral("a_b"), QStringLiteral("a_b"), QStringLiteral("A_B"),
                   QStringLiteral("a_b") }
            << QStringList { QStringLiteral("a_b"), QStringLiteral("a_b (2)"), QStringLiteral("A_B (3)"),
                   QStringLiteral("a_b (4)") };
        QTest::newRow("suffix kept, taken candidate skipped")
            << QStringList { QStringLiteral("x.txt"), QStringLiteral("x (2).txt"), QStringLiteral("x.txt") }
            << QStringList { QStringLiteral("x.txt"), QStringLiteral("x (2).txt"),
                   QStringLiteral("x (3).txt") };
        QTest::newRow("a sibling named like a later candidate")
            << QStringList { QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"),
                   QStringLiteral("x (4)"), QStringLiteral("X"), QStringLiteral("x (2)") }
            << QStringList { QStringLiteral("x"), QStringLiteral("x (2)"), QStringLiteral("x (3)"),
                   QStringLiteral("x (4)"), QStringLiteral("X (5)"), QStringLiteral("x (2) (2)") };
        QTest::newRow("leading dot is the stem")
            << QStringList { QStringLiteral(".bashrc"), QStringLiteral(".bashrc") }
            << QStringList { QStringLiteral(".bashrc"), QStringLiteral(".bashrc (2)") };
        QTest::newRow("composed and decomposed accents")
            << QStringList { QString::fromUtf16(u"caf\u00e9"), QString::fromUtf16(u"cafe\u0301") }
            << QStringList { QString::fromUtf16(u"caf\u00e9"), QString::fromUtf16(u"cafe\u0301 (2)") };
        QTest::newRow("percent signs are text")
            << QStringList { QStringLiteral("report%1.txt"), QStringLiteral("report%1.txt"),
                   QStringLiteral("a%2b"), QStringLiteral("A%2B") }
            << QStringList { QStringLiteral("report%1.txt"), QStringLiteral("report%1 (2).txt"),
                   QStringLiteral("a%2b"), QStringLiteral("A%2B (2)") };
    }

    void uniqueFilenameComponent()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        PinContents::UniqueNames taken;
        QStringList result;
        for (const QString& name : names)
            result.append(PinContents::uniqueFilenameComponent(name, taken));
        QCOMPARE(result, expected);
    }

    void guessedFileExtension_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n....", 12) << QStringLiteral(".png");
        QTest::newRow("jpg") << QByteArray("\xff\xd8\xff\xe0") << QStringLiteral(".jpg");
        QTest::newRow("gif87") << QByteArray("GIF87a..") << QStringLiteral(".gif");
        QTest::newRow("gif89") << QByteArray("GIF89a..") << QStringLiteral(".gif");
        QTest::newRow("webp") << QByteArray("RIFF\0\0\0\0WEBPVP8 ", 16) << QStringLiteral(".webp");
        QTest::newRow("webp of 12 bytes") << QByteArray("RIFF\0\0\0\0WEBP", 12) << QStringLiteral(".webp");
        QTest::newRow("riff only 11 bytes") << QByteArray("RIFF\0\0\0\0WEB", 11) << QString();
        QTest::newRow("pdf") << QByteArray("%PDF-1.7") << QStringLiteral(".pdf");
        QTest::newRow("text") << QByteArray("hello") << QString();
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void guessedFileExtension()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QCOMPARE(PinContents::guessedFileExtension(data), expected);
    }

    void writesInsideAndCreatesNothingOutside()
    {
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString root = QFileInfo(base.path()).canonicalFilePath();
        QVERIFY(QDir(root).mkpath(QStringLiteral("a/b")));
        QCOMPARE(checkSaveTarget(root, QStringLiteral("a/b/c.txt")), QString());
        QString message;
        QVERIFY(writeContentFile(root, QStringLiteral("a/b/c.txt"), "abc", &message));
        QFile written(root + QStringLiteral("/a/b/c.txt"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("abc"));
        // Only the file itself: no temporary files left behind.
        QCOMPARE(QDir(root + QStringLiteral("/a/b")).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("c.txt") });
    }

    void refusesClimbingOutThroughAFolderNotYetMade()
    {
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString root = QFileInfo(base.path()).canonicalFilePath();
        for (const QString& path : { QStringLiteral("new/../../x.txt"), QStringLiteral("new/./x.txt") }) {
            QVERIFY2(checkSaveTarget(root, path)
                         .startsWith(QStringLiteral("Refusing to write outside the chosen folder")),
                qPrintable(path));
            QString message;
            QVERIFY(!writeContentFile(root, path, "x", &message));
        }
    }

    void refusesEveryLinkBelowTheFolder_data()
    {
        QTest::addColumn<QString>("linkName"); // created inside the save folder
        QTest::addColumn<QString>("linkTarget"); // relative to the outside folder
        QTest::addColumn<QString>("writePath"); // what the save wants to write
        QTest::newRow("linked folder")
            << QStringLiteral("dir") << QStringLiteral(".") << QStringLiteral("dir/x.txt");
        QTest::newRow("linked file") << QStringLiteral("f.txt") << QStringLiteral("target.txt")
                                     << QStringLiteral("f.txt");
        QTest::newRow("dangling link")
            << QStringLiteral("new.txt") << QStringLiteral("missing.txt") << QStringLiteral("new.txt");
        QTest::newRow("linked folder deeper")
            << QStringLiteral("sub") << QStringLiteral(".") << QStringLiteral("sub/deeper/x.txt");
    }

    void refusesEveryLinkBelowTheFolder()
    {
        QFETCH(QString, linkName);
        QFETCH(QString, linkTarget);
        QFETCH(QString, writePath);
#ifndef Q_OS_UNIX
        QSKIP("symbolic links are made with the platform's own tools here");
#endif
        QTemporaryDir base;
        QTemporaryDir outside;
        QVERIFY(base.isValid() && outside.isValid());
        const QString root = QFileInfo(base.path()).canonicalFilePath();
        const QString away = QFileInfo(outside.path()).canonicalFilePath();
        {
            QFile target(away + QStringLiteral("/target.txt"));
            QVERIFY(target.open(QIODevice::WriteOnly));
            target.write("precious");
        }
        QVERIFY(QFile::link(QDir(away).filePath(linkTarget), root + QLatin1Char('/') + linkName));

        QVERIFY(checkSaveTarget(root, writePath)
                    .startsWith(QStringLiteral("Refusing to write through a symbolic link")));
        QString message;
        QVERIFY(!writeContentFile(root, writePath, "evil", &message));
        QVERIFY(message.startsWith(QStringLiteral("Refusing")));

        QCOMPARE(QDir(away).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList { QStringLiteral("target.txt") });
        QFile target(away + QStringLiteral("/target.txt"));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("precious"));
    }

    void replacesAHardLinkInsteadOfWritingThroughIt()
    {
        QTemporaryDir base;
        QTemporaryDir outside;
        const QString root = QFileInfo(base.path()).canonicalFilePath();
        const QString away = QFileInfo(outside.path()).canonicalFilePath();
        {
            QFile target(away + QStringLiteral("/shared.txt"));
            QVERIFY(target.open(QIODevice::WriteOnly));
            target.write("precious");
        }
#ifdef Q_OS_UNIX
        if (::link(QFile::encodeName(away + QStringLiteral("/shared.txt")).constData(),
                QFile::encodeName(root + QStringLiteral("/shared.txt")).constData())
            != 0)
            QSKIP("hard links are not available here");
#else
        QSKIP("hard links are made with the platform's own tools here");
#endif
        QString message;
        QVERIFY2(writeContentFile(root, QStringLiteral("shared.txt"), "new", &message), qPrintable(message));
        QFile target(away + QStringLiteral("/shared.txt"));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("precious"));
    }

    void gatewayUrls_data()
    {
        QTest::addColumn<QString>("baseUrl");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("localUrl");
        QTest::newRow("ipv4") << QStringLiteral("http://127.0.0.1:5001/api/v0") << QStringLiteral("127.0.0.1")
                              << QStringLiteral("http://127.0.0.1:8080/ipfs/bafy");
        QTest::newRow("name") << QStringLiteral("http://node.lan:5002/api/v0") << QStringLiteral("node.lan")
                              << QStringLiteral("http://node.lan:8080/ipfs/bafy");
        QTest::newRow("ipv6") << QStringLiteral("http://::1:5001/api/v0") << QStringLiteral("::1")
                              << QStringLiteral("http://[::1]:8080/ipfs/bafy");
    }

    void gatewayUrls()
    {
        QFETCH(QString, baseUrl);
        QFETCH(QString, host);
        QFETCH(QString, localUrl);
        QCOMPARE(rpcHostFromBaseUrl(baseUrl), host);
        QCOMPARE(localGatewayUrl(host, QStringLiteral("bafy")).toString(), localUrl);
        QCOMPARE(publicIpfsUrl(QStringLiteral("bafy")).toString(),
            kPublicGatewayBaseUrl + QLatin1String("/ipfs/bafy"));
        QCOMPARE(publicIpnsUrl(QStringLiteral("k51")).toString(),
            kPublicGatewayBaseUrl + QLatin1String("/ipns/k51"));
        QVERIFY(QString(kPublicGatewayBaseUrl).startsWith(QLatin1String("https://")));
    }
};

QTEST_GUILESS_MAIN(TestContentPaths)
#include "tst_contentpaths.moc"
