#include <QtTest>

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "kuboreplyparser.h"

Q_DECLARE_METATYPE(FakeKuboNode::Response)

// What every request of the client looks like on the wire, and the generic reply reader.
class TestRequestFrame : public QObject
{
    Q_OBJECT

    QTemporaryDir settingsDir;
    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    void setOrigin(bool send, const QString& value)
    {
        QSettings settings = appSettings();
        settings.setValue(QStringLiteral("http/sendOrigin"), send);
        settings.setValue(QStringLiteral("http/originValue"), value);
        settings.sync();
    }

    // Sends /id and returns what the node received.
    FakeKuboNode::Request sendNodeInfoRequest()
    {
        const int before = node->requestCount(QStringLiteral("/id"));
        client->fetchNodeInfo();
        (void)QTest::qWaitFor([&] { return node->requestCount(QStringLiteral("/id")) > before; });
        const QList<FakeKuboNode::Request> received = node->requests(QStringLiteral("/id"));
        return received.size() > before ? received.last() : FakeKuboNode::Request();
    }

    void waitForRepliesReleased() { QTRY_VERIFY(client->findChildren<QNetworkReply*>().isEmpty()); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Test executables run in parallel: keep this one's settings store to itself.
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
        appSettings().clear();
        QVERIFY(appSettings().fileName().startsWith(settingsDir.path()));
    }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        node->route(QStringLiteral("/id"),
            FakeKuboNode::json(R"({"ID":"12D3KooWPeer","AgentVersion":"kubo/0.41.0"})"));
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete client;
        delete node;
        appSettings().clear();
    }

    void baseUrlKeepsTheHostAsStored()
    {
        IpfsClient fresh;
        QCOMPARE(fresh.baseUrl(), QStringLiteral("http://127.0.0.1:5001/api/v0"));
        fresh.setEndpoint(QStringLiteral("::1"), 8081);
        QCOMPARE(fresh.baseUrl(), QStringLiteral("http://::1:8081/api/v0"));
    }

    void literalIpv6HostIsBracketedInRequests_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("url");
        QTest::newRow("bare") << QStringLiteral("::1") << QStringLiteral("http://[::1]:8081/api/v0/version");
        QTest::newRow("bracketed") << QStringLiteral("[::1]")
                                   << QStringLiteral("http://[::1]:8081/api/v0/version");
        QTest::newRow("name") << QStringLiteral("localhost")
                              << QStringLiteral("http://localhost:8081/api/v0/version");
    }

    void literalIpv6HostIsBracketedInRequests()
    {
        QFETCH(QString, host);
        QFETCH(QString, url);
        IpfsClient fresh;
        fresh.setEndpoint(host, 8081);
        QSignalSpy logged(&fresh, &IpfsClient::rpcRequestIssued);
        fresh.ping();
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged.first().first().toString().endsWith(QStringLiteral(" POST ") + url),
            qPrintable(logged.first().first().toString()));
    }

    void requestFrame()
    {
        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QTRY_COMPARE(node->requestCount(QStringLiteral("/pin/ls")), 1);
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/pin/ls")).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QStringLiteral("/api/v0/pin/ls"));
        QCOMPARE(request.rawQuery,
            QStringLiteral(
                "type=recursive&names=true&stream=true&cid-base=base32&upgrade-cidv0-in-output=true"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QVERIFY(!request.hasHeader("Origin"));
        QVERIFY(request.body.isEmpty());
    }

    void plusSignArrivesUnchanged()
    {
        client->fetchPins(QStringLiteral("a+b c"), QString(), false);
        QTRY_COMPARE(node->requestCount(QStringLiteral("/pin/ls")), 1);
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/pin/ls")).first();
        QVERIFY2(
            request.rawQuery.startsWith(QStringLiteral("type=a%2Bb%20c&")), qPrintable(request.rawQuery));
        QCOMPARE(request.queryValue(QStringLiteral("type")), QStringLiteral("a+b c"));
        QCOMPARE(request.queryValue(QStringLiteral("cid-base")), QString());
        QCOMPARE(request.queryValue(QStringLiteral("upgrade-cidv0-in-output")), QStringLiteral("false"));
    }

    void userAgentPassesTheBrowserGuard()
    {
        node->setBrowserGuard(true);
        // Qt's own default would be refused: the guard is really on.
        QNetworkAccessManager bare;
        QNetworkReply* browserLike
            = bare.post(QNetworkRequest(QUrl(client->baseUrl() + QStringLiteral("/id"))), QByteArray());
        QSignalSpy browserDone(browserLike, &QNetworkReply::finished);
        QVERIFY(browserDone.wait());
        QCOMPARE(browserLike->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);
        delete browserLike;

        QSignalSpy info(client, &IpfsClient::nodeInfoReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        const FakeKuboNode::Request request = sendNodeInfoRequest();
        QVERIFY(info.wait());
        QCOMPARE(request.header("User-Agent"), QByteArray("Vaxel/1.1.4"));
        QCOMPARE(request.header("User-Agent"), vaxelUserAgent());
        QVERIFY(errors.isEmpty());
    }

    void originHeader_data()
    {
        QTest::addColumn<bool>("send");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected"); // empty: no Origin header at all

        QTest::newRow("off") << false << QStringLiteral("http://127.0.0.1:5001") << QByteArray();
        QTest::newRow("on, empty value: default") << true << QString() << QByteArray("Vaxel 1.1.4");
        QTest::newRow("on, value") << true << QStringLiteral("  http://localhost:5001 ")
                                   << QByteArray("http://localhost:5001");
        QTest::newRow("line break removed")
            << true << QStringLiteral("first\r\nsecond") << QByteArray("firstsecond");
        QTest::newRow("NUL removed") << true << QStringLiteral("a%1b").arg(QChar(u'\0')) << QByteArray("ab");
        QTest::newRow("only removable: default")
            << true << QStringLiteral(" \r\n\t %1 ").arg(QChar(u'\0')) << QByteArray("Vaxel 1.1.4");
        QTest::newRow("300 characters cut to 256")
            << true << QString(300, QLatin1Char('x')) << QByteArray(256, 'x');
        QTest::newRow("UTF-8") << true << QStringLiteral("Vax\u00e9l") << QByteArray("Vax\xc3\xa9l");
    }

    void originHeader()
    {
        QFETCH(bool, send);
        QFETCH(QString, value);
        QFETCH(QByteArray, expected);
        setOrigin(send, value);
        const FakeKuboNode::Request request = sendNodeInfoRequest();
        QCOMPARE(request.hasHeader("Origin"), !expected.isEmpty());
        QCOMPARE(request.header("Origin"), expected);
        QCOMPARE(request.header("User-Agent"), QByteArray("Vaxel/1.1.4"));
        waitForRepliesReleased();
    }

    void originChangeTakesEffectOnNextRequest()
    {
        QCOMPARE(sendNodeInfoRequest().header("Origin"), QByteArray());
        setOrigin(true, QStringLiteral("http://127.0.0.1:5001"));
        QCOMPARE(sendNodeInfoRequest().header("Origin"), QByteArray("http://127.0.0.1:5001"));
    }

    void logLine_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("query");
        QTest::newRow("plain") << QStringLiteral("all")
                               << QStringLiteral("?type=all&names=true&stream=true&cid-base=base32"
                                                 "&upgrade-cidv0-in-output=true");
        // "%1" in the URL must not be filled a second time.
        QTest::newRow("percent") << QStringLiteral("%1")
                                 << QStringLiteral("?type=%251&names=true&stream=true&cid-base=base32"
                                                   "&upgrade-cidv0-in-output=true");
    }

    void logLine()
    {
        QFETCH(QString, type);
        QFETCH(QString, query);
        QSignalSpy log(client, &IpfsClient::rpcRequestIssued);
        client->fetchPins(type, QStringLiteral("base32"), true);
        QCOMPARE(log.size(), 1); // emitted before the request is sent
        const QString line = log.first().first().toString();
        const QString url = client->baseUrl() + QStringLiteral("/pin/ls") + query;
        const QRegularExpression shape(QStringLiteral(R"(^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] POST (.*)$)"));
        const QRegularExpressionMatch match = shape.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(2), url);
        const QDateTime stamp
            = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
    }

    void logLineOfNodeInfoAgainstDefaultEndpoint()
    {
        IpfsClient fresh;
        QSignalSpy log(&fresh, &IpfsClient::rpcRequestIssued);
        fresh.fetchNodeInfo(); // never reaches the event loop: destroyed with the client
        QCOMPARE(log.size(), 1);
        QVERIFY2(
            log.first().first().toString().endsWith(QStringLiteral("] POST http://127.0.0.1:5001/api/v0/id")),
            qPrintable(log.first().first().toString()));
    }

    void nodeInfo_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("emits");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("agent");
        QTest::newRow("object") << QByteArray(R"({"ID":"12D3KooWPeer","AgentVersion":"kubo/0.41.0"})") << true
                                << QStringLiteral("12D3KooWPeer") << QStringLiteral("kubo/0.41.0");
        QTest::newRow("members absent") << QByteArray("{}") << true << QString() << QString();
        QTest::newRow("not an object") << QByteArray("[1]") << false << QString() << QString();
        QTest::newRow("not JSON") << QByteArray("<html>") << false << QString() << QString();
        QTest::newRow("empty") << QByteArray() << false << QString() << QString();
    }

    void nodeInfo()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, emits);
        QFETCH(QString, id);
        QFETCH(QString, agent);
        node->route(QStringLiteral("/id"), FakeKuboNode::json(body));
        QSignalSpy info(client, &IpfsClient::nodeInfoReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        sendNodeInfoRequest();
        waitForRepliesReleased();
        QVERIFY(errors.isEmpty());
        QCOMPARE(info.size(), emits ? 1 : 0);
        if (emits) {
            QCOMPARE(info.first().at(0).toString(), id);
            QCOMPARE(info.first().at(1).toString(), agent);
        }
    }

    void nodeInfoFailure_data()
    {
        QTest::addColumn<FakeKuboNode::Response>("response");
        QTest::newRow("HTTP error with body") << FakeKuboNode::kuboError(QStringLiteral("boom"));
        FakeKuboNode::Response cut = FakeKuboNode::json(R"({"ID":"12D3KooWPeer","AgentVersion":"kubo"})");
        cut.cutAfterBytes = 5;
        QTest::newRow("dropped connection") << cut;
    }

    void nodeInfoFailure()
    {
        QFETCH(FakeKuboNode::Response, response);
        node->route(QStringLiteral("/id"), response);
        QSignalSpy info(client, &IpfsClient::nodeInfoReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        client->fetchNodeInfo();
        QVERIFY(errors.wait());
        QVERIFY2(errors.first().first().toString().startsWith(QStringLiteral("Failed to get node info: ")),
            qPrintable(errors.first().first().toString()));
        waitForRepliesReleased();
        QCOMPARE(errors.size(), 1);
        QVERIFY(info.isEmpty());
    }

    void ping()
    {
        node->route(QStringLiteral("/version"), FakeKuboNode::json(R"({"Version":"0.41.0"})"));
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        client->ping();
        QVERIFY(status.wait());
        QCOMPARE(status.first().first().toBool(), true);
        QVERIFY(errors.isEmpty());

        node->clearRoutes(); // now answered 404
        status.clear();
        client->ping();
        QVERIFY(errors.wait());
        QCOMPARE(status.size(), 1);
        QCOMPARE(status.first().first().toBool(), false);
        QVERIFY(errors.first().first().toString().startsWith(QStringLiteral("Cannot connect to Kubo RPC: ")));
        waitForRepliesReleased();
    }

    // Slow metadata walks fill their queues; a request the user is waiting for still goes out at once.
    void interactiveRequestsDoNotWaitBehindMetadata()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        node->route(QStringLiteral("/dag/stat"), FakeKuboNode::held());
        for (int i = 0; i < 40; ++i) {
            client->fetchRefs(QStringLiteral("bafyslow%1").arg(i));
            client->fetchObjectStat(QStringLiteral("bafyslow%1").arg(i));
        }
        QTRY_COMPARE(node->heldCount(QStringLiteral("/refs")), 8);
        QTRY_COMPARE(node->heldCount(QStringLiteral("/dag/stat")), 24);
        QSignalSpy info(client, &IpfsClient::nodeInfoReceived);
        client->fetchNodeInfo();
        QVERIFY(info.wait());
        node->releaseHeld(QStringLiteral("/refs"), FakeKuboNode::json(""));
        node->releaseHeld(QStringLiteral("/dag/stat"), FakeKuboNode::json("{}"));
    }

    void parseKuboReply_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("hasJson");

        const QString action = QStringLiteral("get repo stat");
        const QByteArray errorBody = R"({"Message":"repo locked","Code":0,"Type":"error"})";
        QTest::newRow("object") << QByteArray(R"({"RepoSize":1})") << false << true << QString() << true;
        QTest::newRow("HTTP error gives the node's message")
            << (errorBody + "\n") << true << false << QStringLiteral("Failed to get repo stat: repo locked")
            << false;
        QTest::newRow("HTTP error, plain text") << QByteArray("403 - Forbidden\n") << true << false
                                               << QStringLiteral("Failed to get repo stat: 403 - Forbidden") << false;
        QTest::newRow("HTTP error, a page") << QByteArray("<html><body>Bad gateway</body></html>") << true << false
                                           << QStringLiteral("Failed to get repo stat: Connection refused") << false;
        QTest::newRow("HTTP error, empty body")
            << QByteArray() << true << false << QStringLiteral("Failed to get repo stat: Connection refused")
            << false;
        QTest::newRow("HTTP error, blank body")
            << QByteArray(" \n") << true << false
            << QStringLiteral("Failed to get repo stat: Connection refused") << false;
        QTest::newRow("array") << QByteArray("[]") << false << false
                               << QStringLiteral("Failed to get repo stat: invalid JSON response") << false;
        QTest::newRow("not JSON") << QByteArray("403 - Forbidden") << false << false
                                  << QStringLiteral("Failed to get repo stat: invalid JSON response")
                                  << false;
        QTest::newRow("empty") << QByteArray() << false << false
                               << QStringLiteral("Failed to get repo stat: invalid JSON response") << false;
        QTest::newRow("truncated") << QByteArray("{\"RepoSize\":") << false << false
                                   << QStringLiteral("Failed to get repo stat: invalid JSON response")
                                   << false;
        QTest::newRow("blank message is fine")
            << QByteArray(R"({"Message":"   "})") << false << true << QString() << true;
        QTest::newRow("error member")
            << QByteArray(R"({"Error":" disk full ","Message":"other"})") << false << false
            << QStringLiteral("Failed to get repo stat: disk full") << true;
        QTest::newRow("message when error blank")
            << QByteArray(R"({"Error":" ","Message":"nope"})") << false << false
            << QStringLiteral("Failed to get repo stat: nope") << true;
        QTest::newRow("non-string error ignored")
            << QByteArray(R"({"Error":5})") << false << true << QString() << true;
        QTest::newRow("percent in detail kept")
            << QByteArray(R"({"Message":"100%1 bad"})") << false << false
            << QStringLiteral("Failed to get repo stat: 100%1 bad") << true;
    }

    void parseKuboReply()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, failed);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        QFETCH(bool, hasJson);
        const KuboReplyResult result = parseKuboReplyBody(
            body, failed, QStringLiteral("Connection refused"), QStringLiteral("get repo stat"));
        QCOMPARE(result.ok, ok);
        QCOMPARE(result.error, error);
        QCOMPARE(result.body, body);
        QCOMPARE(!result.json.isEmpty(), hasJson);
    }
};

QTEST_MAIN(TestRequestFrame)
#include "tst_requestframe.moc"
