#include <QtTest>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "lsparser.h"

using namespace Qt::StringLiterals;

namespace {

// One listing entry as "name|parent|hash|size|type", so that tables compare whole lists.
QStringList describe(const QList<LsEntry>& entries)
{
    QStringList lines;
    for (const LsEntry& entry : entries)
        lines
            << u"%1|%2|%3|%4|%5"_s.arg(entry.name, entry.parent, entry.hash).arg(entry.size).arg(entry.type);
    return lines;
}

} // namespace

// Directory listings and file content.
class TestContent : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
    }

    void init()
    {
        node = new FakeKuboNode;
        QVERIFY(node->start());
        client = new IpfsClient;
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete client;
        delete node;
    }

    void parseLsResponse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("error");

        QTest::newRow("objects, each link under its own object")
            << QByteArray(
                   "{\"Objects\":[{\"Name\":\"one\",\"Hash\":\"bafyone\",\"Links\":["
                   "{\"Name\":\"a.txt\",\"Hash\":\"bafya\",\"Size\":12,\"Type\":2},"
                   "{\"Name\":\"sub\",\"Hash\":\"bafysub\",\"Size\":0,\"Type\":1}]},"
                   "{\"Name\":\"two\",\"Links\":[{\"Name\":\"b\",\"Hash\":\"bafyb\",\"Size\":5000000000,"
                   "\"Type\":2,\"Target\":\"\"}]}]}")
            << QStringList { u"a.txt|one|bafya|12|2"_s, u"sub|one|bafysub|0|1"_s,
                   u"b|two|bafyb|5000000000|2"_s }
            << QString();
        QTest::newRow("entries, no parent")
            << QByteArray("{\"Entries\":[{\"Name\":\"x\",\"Hash\":\"bafyx\",\"Size\":1,\"Type\":2}]}")
            << QStringList { u"x||bafyx|1|2"_s } << QString();
        QTest::newRow("objects win over entries")
            << QByteArray("{\"Entries\":[{\"Name\":\"e\"}],\"Objects\":[{\"Links\":[{\"Name\":\"o\"}]}]}")
            << QStringList { u"o|||0|0"_s } << QString();
        QTest::newRow("loose values")
            << QByteArray("{\"Objects\":[{\"Links\":[{\"Name\":\" spaced \",\"Size\":\"42\",\"Type\":1.5},"
                          "{\"Type\":\"1\",\"Size\":true}]}]}")
            << QStringList { u" spaced |||42|0"_s, u"|||0|0"_s } << QString();
        QTest::newRow("non-objects skipped") << QByteArray(
            "{\"Objects\":[7,{\"Name\":\"d\",\"Links\":[\"x\",{\"Name\":\"k\"},null]},{\"Name\":\"e\"}]}")
                                             << QStringList { u"k|d||0|0"_s } << QString();
        QTest::newRow("empty objects") << QByteArray("{\"Objects\":[]}") << QStringList() << QString();
        QTest::newRow("objects not an array") << QByteArray("{\"Objects\":{}}") << QStringList() << QString();
        QTest::newRow("empty entries") << QByteArray("{\"Entries\":[]}") << QStringList() << QString();
        QTest::newRow("neither form")
            << QByteArray("{}") << QStringList() << u"Unexpected ls response format"_s;
        QTest::newRow("array") << QByteArray("[]") << QStringList() << u"Invalid JSON from ls"_s;
        QTest::newRow("not JSON") << QByteArray("{\"Objects\":[") << QStringList()
                                  << u"Invalid JSON from ls"_s;
        QTest::newRow("empty body") << QByteArray() << QStringList() << u"Invalid JSON from ls"_s;
    }

    void parseLsResponse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, entries);
        QFETCH(QString, error);
        QString parseError = u"stale"_s;
        QCOMPARE(describe(::parseLsResponse(body, &parseError)), entries);
        QCOMPARE(parseError, error);
        QCOMPARE(describe(::parseLsResponse(body, nullptr)), entries);
    }

    void emptyCidSendsNothing()
    {
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);
        client->fetchLs(QString());
        client->fetchCat(QString());
        QCOMPARE(issued.count(), 0);
    }

    void listsEveryRequest()
    {
        node->route(u"/ls"_s,
            FakeKuboNode::json("{\"Objects\":[{\"Hash\":\"bafydir\",\"Links\":[{\"Name\":\"f\",\"Hash\":"
                               "\"bafyf\",\"Size\":3,\"Type\":2}]}]}"));
        QSignalSpy listings(client, &IpfsClient::lsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        // Listings are not de-duplicated: each call is answered.
        client->fetchLs(u" bafydir"_s);
        client->fetchLs(u" bafydir"_s);
        QTRY_COMPARE(listings.count(), 2);
        for (const QList<QVariant>& listing : std::as_const(listings)) {
            QCOMPARE(listing.at(0).toString(), u" bafydir"_s);
            QCOMPARE(describe(listing.at(1).value<QList<LsEntry>>()), QStringList { u"f||bafyf|3|2"_s });
        }
        QCOMPARE(errors.count(), 0);
        QCOMPARE(node->requests(u"/ls"_s).at(0).query,
            (QList<QPair<QString, QString>> { { u"arg"_s, u" bafydir"_s }, { u"cid-base"_s, u"base32"_s },
                { u"upgrade-cidv0-in-output"_s, u"true"_s } }));
    }

    void listingFailureStillAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason"); // empty: the network's own error text
        QTest::newRow("node error") << 500 << QByteArray("{\"Message\":\"no link named\",\"Code\":0}")
                                    << QString();
        QTest::newRow("not JSON") << 200 << QByteArray("<html>") << u"Invalid JSON from ls"_s;
        QTest::newRow("unknown form")
            << 200 << QByteArray("{\"Links\":[]}") << u"Unexpected ls response format"_s;
    }

    void listingFailureStillAnswers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        node->route(u"/ls"_s, FakeKuboNode::json(body, status));
        QStringList events;
        connect(client, &IpfsClient::errorOccurred, this,
            [&events](const QString& message) { events << message; });
        connect(client, &IpfsClient::lsReceived, this,
            [&events](const QString& cid, const QList<LsEntry>& entries) {
                events << u"listed %1 %2"_s.arg(cid).arg(entries.size());
            });

        client->fetchLs(u"bafydir"_s);
        QTRY_COMPARE(events.size(), 2);
        const QString prefix = u"List failed for bafydir: "_s;
        if (reason.isEmpty()) {
            QVERIFY2(events.at(0).startsWith(prefix) && events.at(0).size() > prefix.size(),
                qPrintable(events.at(0)));
        } else {
            QCOMPARE(events.at(0), prefix + reason);
        }
        QCOMPARE(events.at(1), u"listed bafydir 0"_s);
    }

    void catDeliversExactBytes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray binary(3 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < binary.size(); ++i)
            binary[i] = char((i * 131) % 251);
        QTest::newRow("binary, several MiB") << binary;
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("JSON-looking text") << QByteArray("{\"Message\":\"not an error\"}\n");
    }

    void catDeliversExactBytes()
    {
        QFETCH(QByteArray, content);
        FakeKuboNode::Response response = FakeKuboNode::text(content);
        response.headers = { { "Content-Type", "application/octet-stream" } };
        node->route(u"/cat"_s, response);
        QSignalSpy received(client, &IpfsClient::catReceived);
        QSignalSpy failed(client, &IpfsClient::catFailed);

        client->fetchCat(u"bafyfile"_s);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toString(), u"bafyfile"_s);
        const QByteArray data = received.at(0).at(1).toByteArray();
        QCOMPARE(data.size(), content.size());
        QVERIFY(data == content);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(node->requests(u"/cat"_s).at(0).query,
            (QList<QPair<QString, QString>> { { u"arg"_s, u"bafyfile"_s } }));
    }

    void catFailureOnlyFailsTheCat()
    {
        node->route(u"/cat"_s, FakeKuboNode::kuboError(u"this dag node is a directory"_s));
        QSignalSpy received(client, &IpfsClient::catReceived);
        QSignalSpy failed(client, &IpfsClient::catFailed);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        client->fetchCat(u"bafydir"_s);
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), u"bafydir"_s);
        QVERIFY(!failed.at(0).at(1).toString().isEmpty());
        QCOMPARE(received.count(), 0);
        QCOMPARE(errors.count(), 0);
    }
};

QTEST_MAIN(TestContent)
#include "tst_content.moc"
