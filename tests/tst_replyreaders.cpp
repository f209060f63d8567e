#include <QtTest>

#include "remoteparsers.h"
#include "repoparsers.h"

using namespace Qt::StringLiterals;

// The free readers of the repository GC stream and the remote pinning replies.
class TestReplyReaders : public QObject
{
    Q_OBJECT

private slots:
    void gcBody_data();
    void gcBody();
    void serviceList_data();
    void serviceList();
    void unreachableServices_data();
    void unreachableServices();
    void pinStatus_data();
    void pinStatus();
    void replyErrorText_data();
    void replyErrorText();
};

void TestReplyReaders::gcBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("cids");
    QTest::addColumn<QStringList>("errors");

    QTest::newRow("two keys and an error, in line order")
        << QByteArray(
               "{\"Key\":{\"/\":\"bafyA\"}}\n{\"Error\":\"block gone\"}\n{\"Key\":{\"/\":\"bafyB\"}}\n")
        << QStringList { u"bafyA"_s, u"bafyB"_s } << QStringList { u"block gone"_s };
    QTest::newRow("blanks and carriage returns are trimmed")
        << QByteArray("  {\"Key\":{\"/\":\" bafyA \"}}\r\n\t{\"Error\":\"  bad  \"}  \r\n")
        << QStringList { u"bafyA"_s } << QStringList { u"bad"_s };
    QTest::newRow("one line with both members adds to both lists")
        << QByteArray("{\"Key\":{\"/\":\"bafyA\"},\"Error\":\"partial\"}") << QStringList { u"bafyA"_s }
        << QStringList { u"partial"_s };
    QTest::newRow("a plain string key adds nothing")
        << QByteArray("{\"Key\":\"bafyA\"}\n") << QStringList() << QStringList();
    QTest::newRow("non-object lines are skipped")
        << QByteArray("not json\n[1,2]\n\"text\"\n{\"Key\":{\"/\":\"bafyA\"}}\n{broken\n")
        << QStringList { u"bafyA"_s } << QStringList();
    QTest::newRow("pretty-printed object is read whole")
        << QByteArray("{\n  \"Key\": {\n    \"/\": \"bafyA\"\n  }\n}\n") << QStringList { u"bafyA"_s }
        << QStringList();
    QTest::newRow("pretty-printed error is read whole")
        << QByteArray("{\n  \"Error\": \"gc failed\"\n}") << QStringList() << QStringList { u"gc failed"_s };
    QTest::newRow("empty body") << QByteArray() << QStringList() << QStringList();
    QTest::newRow("not json at all") << QByteArray("<html>oops</html>") << QStringList() << QStringList();
    QTest::newRow("empty error and key are ignored")
        << QByteArray("{\"Error\":\"  \",\"Key\":{\"/\":\"\"}}\n") << QStringList() << QStringList();
}

void TestReplyReaders::gcBody()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, cids);
    QFETCH(QStringList, errors);
    const RepoGcReport report = parseRepoGcBody(body);
    QCOMPARE(report.collectedCids, cids);
    QCOMPARE(report.errors, errors);
}

void TestReplyReaders::serviceList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("entries"); // "name|endpoint"
    QTest::addColumn<QString>("error");

    const QString invalid = QStringLiteral("Remote service request failed: invalid JSON response.");
    QTest::newRow("empty RemoteServices")
        << QByteArray("{\"RemoteServices\":[]}") << true << QStringList() << QString();
    QTest::newRow("kubo form") << QByteArray(
        "{\"RemoteServices\":[{\"Service\":\"pinata\",\"ApiEndpoint\":\"https://api.example/psa\"},"
        "{\"Service\":\"bare\"}]}")
                               << true << QStringList { u"pinata|https://api.example/psa"_s, u"bare|"_s }
                               << QString();
    QTest::newRow("Services with lower-case keys are trimmed")
        << QByteArray("{\"Services\":[{\"service\":\" a \",\"endpoint\":\"e\"}]}") << true
        << QStringList { u"a|e"_s } << QString();
    QTest::newRow("RemoteServices wins over Services") << QByteArray(
        "{\"RemoteServices\":[{\"Service\":\"first\"}],\"Services\":[{\"Service\":\"second\"}]}")
                                                       << true << QStringList { u"first|"_s } << QString();
    QTest::newRow("RemoteServices not an array falls through")
        << QByteArray("{\"RemoteServices\":{},\"Services\":[{\"Name\":\"second\",\"Endpoint\":\"x\"}]}")
        << true << QStringList { u"second|x"_s } << QString();
    QTest::newRow("wrapped output") << QByteArray(
        "{\"RemoteServiceLsOutput\":{\"RemoteServices\":[{\"name\":\"w\",\"apiEndpoint\":\"y\"}]}}")
                                    << true << QStringList { u"w|y"_s } << QString();
    QTest::newRow("wrapped output without array gives none")
        << QByteArray("{\"RemoteServiceLsOutput\":{\"RemoteServices\":5},\"Services\":[{\"Name\":\"n\"}]}")
        << true << QStringList() << QString();
    QTest::newRow("first non-empty name key wins")
        << QByteArray("{\"RemoteServices\":[{\"Service\":\"  \",\"Name\":\"second\",\"service\":\"third\"}]}")
        << true << QStringList { u"second|"_s } << QString();
    QTest::newRow("entries without a name and non-objects are skipped")
        << QByteArray(
               "{\"RemoteServices\":[1,\"x\",{\"ApiEndpoint\":\"e\"},{\"Service\":7},{\"Service\":\"ok\"}]}")
        << true << QStringList { u"ok|"_s } << QString();
    QTest::newRow("no known member") << QByteArray("{\"Other\":[]}") << true << QStringList() << QString();
    QTest::newRow("node error") << QByteArray("{\"Error\":\"  no such service  \"}") << false << QStringList()
                                << QStringLiteral("no such service");
    QTest::newRow("array body") << QByteArray("[]") << false << QStringList() << invalid;
    QTest::newRow("broken body") << QByteArray("{\"RemoteServices\":") << false << QStringList() << invalid;
    QTest::newRow("empty body") << QByteArray() << false << QStringList() << invalid;
}

void TestReplyReaders::serviceList()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QStringList, entries);
    QFETCH(QString, error);
    const RemoteServicesReading reading = readRemoteServicesBody(body);
    QCOMPARE(reading.ok, ok);
    QCOMPARE(reading.error, error);
    QStringList got;
    for (const RemoteServiceEntry& entry : reading.services)
        got << entry.name + QLatin1Char('|') + entry.endpoint;
    QCOMPARE(got, entries);
}

void TestReplyReaders::unreachableServices_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("unreachable");
    QTest::newRow("listing with stat") << QByteArray(
        R"({"RemoteServices":[{"Service":"good","Stat":{"Status":"valid","PinCount":{"Pinned":3}}},)"
        R"({"Service":"bad","Stat":{"Status":"invalid"}},{"Service":"plain"}]})")
                                       << QStringList { u"bad"_s };
    QTest::newRow("listing without stat")
        << QByteArray(R"({"RemoteServices":[{"Service":"a"}]})") << QStringList();
}

void TestReplyReaders::unreachableServices()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, unreachable);
    const RemoteServicesReading reading = readRemoteServicesBody(body);
    QVERIFY(reading.ok);
    QCOMPARE(reading.unreachable, unreachable);
}

void TestReplyReaders::pinStatus_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("requested entry among others, last") << QByteArray(
        "{\"Pins\":[{\"Cid\":\"bafyX\",\"Status\":\"failed\"},{\"Cid\":\"bafyY\",\"Status\":\"queued\"},"
        "{\"Cid\":\"bafyA\",\"Status\":\"pinning\"}]}") << true
                                                        << QStringLiteral("pinning") << QString();
    QTest::newRow("requested entry among others, middle") << QByteArray(
        "{\"Pins\":[{\"Cid\":\"bafyX\",\"Status\":\"failed\"},{\"Cid\":\"bafyA\",\"Status\":\"queued\"},"
        "{\"Cid\":\"bafyY\",\"Status\":\"pinned\"}]}") << true
                                                          << QStringLiteral("queued") << QString();
    QTest::newRow("status is lowered") << QByteArray("{\"Pins\":[{\"Cid\":\"bafyA\",\"Status\":\"Pinned\"}]}")
                                       << true << QStringLiteral("pinned") << QString();
    QTest::newRow("lower-case status key")
        << QByteArray("{\"Pins\":[{\"Cid\":\"bafyA\",\"status\":\" QUEUED \"}]}") << true
        << QStringLiteral("queued") << QString();
    QTest::newRow("no status is unknown")
        << QByteArray("{\"Pins\":[{\"Cid\":\"bafyA\"}]}") << true << QStringLiteral("unknown") << QString();
    QTest::newRow("first matching entry decides") << QByteArray(
        "{\"Pins\":[{\"Cid\":\"bafyA\",\"Status\":\"failed\"},{\"Cid\":\"bafyA\",\"Status\":\"pinned\"}]}")
                                                  << true << QStringLiteral("failed") << QString();
    QTest::newRow("link form cid") << QByteArray(
        "{\"Pins\":[{\"Cid\":{\"/\":\" bafyA \"},\"Status\":\"pinned\"}]}")
                                   << true << QStringLiteral("pinned") << QString();
    QTest::newRow("comparison is case-sensitive")
        << QByteArray("{\"Pins\":[{\"Cid\":\"BAFYA\",\"Status\":\"pinned\"}]}") << true
        << QStringLiteral("not-found") << QString();
    QTest::newRow("wrapped output") << QByteArray(
        "{\"RemotePinLsOutput\":{\"Pins\":[{\"Cid\":\"bafyA\",\"Status\":\"pinned\"}]}}")
                                    << true << QStringLiteral("pinned") << QString();
    QTest::newRow("non-object entries are skipped")
        << QByteArray("{\"Pins\":[\"bafyA\",3,{\"Cid\":\"bafyA\",\"Status\":\"pinned\"}]}") << true
        << QStringLiteral("pinned") << QString();
    QTest::newRow("object without pins")
        << QByteArray("{\"Something\":1}") << true << QStringLiteral("not-found") << QString();
    // What a node streams: one pin object per line, only the pins that match the filters.
    QTest::newRow("streamed pin") << QByteArray(
        "{\"Status\":\"pinned\",\"Cid\":\"bafyA\",\"Name\":\"invoices\"}\n")
                                  << true << QStringLiteral("pinned") << QString();
    QTest::newRow("streamed pins, the requested one second") << QByteArray(
        "{\"Status\":\"failed\",\"Cid\":\"bafyX\"}\n\n{\"Status\":\"Queued\",\"Cid\":\"bafyA\"}\n"
        "{\"Status\":\"pinned\",\"Cid\":\"bafyA\"}") << true << QStringLiteral("queued")
                                                             << QString();
    QTest::newRow("streamed pin of another CID") << QByteArray("{\"Status\":\"pinned\",\"Cid\":\"bafyX\"}\n")
                                                 << true << QStringLiteral("not-found") << QString();
    QTest::newRow("nothing streamed") << QByteArray() << true << QStringLiteral("not-found") << QString();
    QTest::newRow("blank stream") << QByteArray(" \n") << true << QStringLiteral("not-found") << QString();
    QTest::newRow("streamed line not json") << QByteArray("{\"Status\":\"pinned\",\"Cid\":\"bafyA\"}\noops\n")
                                            << false << QString() << QStringLiteral("invalid JSON response.");
    QTest::newRow("streamed error line")
        << QByteArray("{\"Status\":\"pinned\",\"Cid\":\"bafyA\"}\n{\"Error\":\"cut off\"}\n") << false
        << QString() << QStringLiteral("cut off");
    QTest::newRow("node error") << QByteArray("{\"Error\":\" service unreachable \"}") << false << QString()
                                << QStringLiteral("service unreachable");
    QTest::newRow("array body") << QByteArray("[]") << false << QString()
                                << QStringLiteral("invalid JSON response.");
    QTest::newRow("not json") << QByteArray("oops") << false << QString()
                              << QStringLiteral("invalid JSON response.");
}

void TestReplyReaders::pinStatus()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QString, status);
    QFETCH(QString, error);
    const RemotePinStatusReading reading = readRemotePinStatusBody(body, QStringLiteral("bafyA"));
    QCOMPARE(reading.ok, ok);
    QCOMPARE(reading.status, status);
    QCOMPARE(reading.error, error);
}

void TestReplyReaders::replyErrorText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::newRow("error member") << QByteArray("{\"Error\":\" denied \"}") << QStringLiteral("denied");
    QTest::newRow("no error member") << QByteArray("{\"Message\":\"m\"}") << QString();
    QTest::newRow("non-string error") << QByteArray("{\"Error\":42}") << QString();
    QTest::newRow("array") << QByteArray("[{\"Error\":\"x\"}]") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestReplyReaders::replyErrorText()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QCOMPARE(remoteReplyErrorText(body), error);
}

QTEST_GUILESS_MAIN(TestReplyReaders)
#include "tst_replyreaders.moc"
