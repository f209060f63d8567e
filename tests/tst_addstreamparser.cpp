#include <QtTest>

#include "addstreamparser.h"

// The line reader of the add stream, fed directly.
class TestAddStreamParser : public QObject
{
    Q_OBJECT

private slots:
    void parsesOneLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hash");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("error");

        const int entry = AddStreamLine::Entry;
        const int ignored = AddStreamLine::Ignored;
        const int error = AddStreamLine::Error;
        QTest::newRow("entry") << QByteArray("{\"Name\":\"a/b.txt\",\"Hash\":\"Qa\",\"Size\":\"42\"}")
                               << entry << "a/b.txt"
                               << "Qa" << qint64(42) << "";
        QTest::newRow("white space around")
            << QByteArray(" \t{\"Name\":\"a\",\"Hash\":\"Qa\",\"Size\":\"1\"}\r ") << entry << "a"
            << "Qa" << qint64(1) << "";
        QTest::newRow("names and hashes untrimmed")
            << QByteArray("{\"Name\":\" a \",\"Hash\":\" Qa\"}") << entry << " a "
            << " Qa" << qint64(0) << "";
        QTest::newRow("size as number counts 0")
            << QByteArray("{\"Name\":\"a\",\"Hash\":\"Qa\",\"Size\":42}") << entry << "a"
            << "Qa" << qint64(0) << "";
        QTest::newRow("size not a number") << QByteArray("{\"Hash\":\"Qa\",\"Size\":\"4x\"}") << entry << ""
                                           << "Qa" << qint64(0) << "";
        QTest::newRow("size beyond 32 bits")
            << QByteArray("{\"Hash\":\"Qa\",\"Size\":\"8589934592\"}") << entry << ""
            << "Qa" << qint64(8589934592LL) << "";
        QTest::newRow("no hash") << QByteArray("{\"Name\":\"a\",\"Bytes\":100}") << ignored << ""
                                 << "" << qint64(0) << "";
        QTest::newRow("empty hash") << QByteArray("{\"Name\":\"a\",\"Hash\":\"\"}") << ignored << ""
                                    << "" << qint64(0) << "";
        QTest::newRow("blank") << QByteArray("   ") << ignored << ""
                               << "" << qint64(0) << "";
        QTest::newRow("not json") << QByteArray("Qm…") << ignored << ""
                                  << "" << qint64(0) << "";
        QTest::newRow("array") << QByteArray("[{\"Hash\":\"Qa\"}]") << ignored << ""
                               << "" << qint64(0) << "";
        QTest::newRow("error") << QByteArray("{\"Error\":\" disk full \",\"Hash\":\"Qa\"}") << error << ""
                               << "" << qint64(0) << "disk full";
        QTest::newRow("blank error is no error")
            << QByteArray("{\"Error\":\"  \",\"Hash\":\"Qa\"}") << entry << ""
            << "Qa" << qint64(0) << "";
        QTest::newRow("error not a string") << QByteArray("{\"Error\":7,\"Hash\":\"Qa\"}") << entry << ""
                                            << "Qa" << qint64(0) << "";
    }

    void parsesOneLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(QString, hash);
        QFETCH(qint64, size);
        QFETCH(QString, error);

        const AddStreamLine parsed = parseAddStreamLine(line);
        QCOMPARE(int(parsed.kind), kind);
        if (kind == AddStreamLine::Entry) {
            QCOMPARE(parsed.entry.name, name);
            QCOMPARE(parsed.entry.hash, hash);
            QCOMPARE(parsed.entry.size, size);
        }
        QCOMPARE(parsed.error, error);
    }

    void takesOnlyCompleteLines_data()
    {
        QTest::addColumn<QList<QByteArray>>("deliveries");
        QTest::addColumn<QStringList>("hashesPerDelivery"); // "|"-joined hashes taken at each delivery
        QTest::addColumn<QByteArray>("rest");

        const QByteArray a = "{\"Hash\":\"Qa\"}";
        const QByteArray b = "{\"Hash\":\"Qb\"}";
        QTest::newRow("two lines at once") << QList<QByteArray> { a + '\n' + b + '\n' }
                                           << QStringList { QStringLiteral("Qa|Qb") } << QByteArray();
        QTest::newRow("split inside a line")
            << QList<QByteArray> { a.left(5), a.mid(5) + '\n' }
            << QStringList { QStringLiteral(""), QStringLiteral("Qa") } << QByteArray();
        QTest::newRow("newline arrives alone")
            << QList<QByteArray> { a, "\n" } << QStringList { QStringLiteral(""), QStringLiteral("Qa") }
            << QByteArray();
        QTest::newRow("tail kept") << QList<QByteArray> { a + '\n' + b.left(3) }
                                   << QStringList { QStringLiteral("Qa") } << b.left(3);
        QTest::newRow("CRLF and empty lines")
            << QList<QByteArray> { "\r\n\n" + a + "\r\n\r\n", b }
            << QStringList { QStringLiteral("Qa"), QStringLiteral("") } << b;
    }

    void takesOnlyCompleteLines()
    {
        QFETCH(QList<QByteArray>, deliveries);
        QFETCH(QStringList, hashesPerDelivery);
        QFETCH(QByteArray, rest);

        QByteArray buffer;
        for (int i = 0; i < deliveries.size(); ++i) {
            buffer += deliveries.at(i);
            QStringList hashes;
            for (const AddStreamLine& line : takeAddStreamLines(buffer))
                hashes.append(line.entry.hash);
            QCOMPARE(hashes.join(u'|'), hashesPerDelivery.at(i));
        }
        QCOMPARE(buffer, rest);
    }

    void keepsErrorsInOrder()
    {
        QByteArray buffer = "{\"Hash\":\"Qa\"}\n{\"Error\":\"one\"}\nnoise\n{\"Error\":\"two\"}\n";
        const QList<AddStreamLine> lines = takeAddStreamLines(buffer);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(int(lines.at(0).kind), int(AddStreamLine::Entry));
        QCOMPARE(lines.at(1).error, QStringLiteral("one"));
        QCOMPARE(lines.at(2).error, QStringLiteral("two"));
    }
};

QTEST_APPLESS_MAIN(TestAddStreamParser)
#include "tst_addstreamparser.moc"
