#include <QtTest>

#include "fakekubonode.h"
#include "ipfsclient.h"
#include "logmasking.h"

using namespace Qt::StringLiterals;

// What the RPC log shows of a request URL: everything as sent, secrets masked.
class TestLogMasking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void masks_data();
    void masks();
    void serviceAddLogLineHidesTheToken();
};

void TestLogMasking::masks_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("logged");

    const QString base = u"http://127.0.0.1:5001/api/v0"_s;
    QTest::newRow("service add masks the third arg")
        << base
            + u"/pin/remote/service/add?arg=pinata&arg=https%3A%2F%2Fapi.example%2Fpsa&arg=s3cr3t%2Btoken"_s
        << base + u"/pin/remote/service/add?arg=pinata&arg=https%3A%2F%2Fapi.example%2Fpsa&arg=***"_s;
    QTest::newRow("service add with only two args masks nothing")
        << base + u"/pin/remote/service/add?arg=pinata&arg=https%3A%2F%2Fapi.example"_s
        << base + u"/pin/remote/service/add?arg=pinata&arg=https%3A%2F%2Fapi.example"_s;
    QTest::newRow("service add with other items between the args")
        << base + u"/pin/remote/service/add?arg=n&x=1&arg=e&arg=tok&y=2"_s
        << base + u"/pin/remote/service/add?arg=n&x=1&arg=e&arg=***&y=2"_s;
    QTest::newRow("third arg of another command stays")
        << base + u"/bootstrap/add?arg=a&arg=b&arg=c"_s << base + u"/bootstrap/add?arg=a&arg=b&arg=c"_s;
    QTest::newRow("service ls stays") << base + u"/pin/remote/service/ls?stat=true&name=pinata"_s
                                      << base + u"/pin/remote/service/ls?stat=true&name=pinata"_s;
    QTest::newRow("config value of a remote service key")
        << base + u"/config?arg=Pinning.RemoteServices.p.API.Key&arg=tok&json=false"_s
        << base + u"/config?arg=Pinning.RemoteServices.p.API.Key&arg=***&json=false"_s;
    QTest::newRow("config value of a private key") << base + u"/config?arg=Identity.PrivKey&arg=CAESQ"_s
                                                   << base + u"/config?arg=Identity.PrivKey&arg=***"_s;
    QTest::newRow("config value holding the services")
        << base + u"/config?arg=Pinning.RemoteServices&arg=%7B%22p%22%3A%7B%7D%7D&json=true"_s
        << base + u"/config?arg=Pinning.RemoteServices&arg=***&json=true"_s;
    QTest::newRow("config value under the identity")
        << base + u"/config?arg=identity&arg=x"_s << base + u"/config?arg=identity&arg=***"_s;
    QTest::newRow("config token leaf")
        << base + u"/config?arg=Some.AuthToken&arg=x"_s << base + u"/config?arg=Some.AuthToken&arg=***"_s;
    QTest::newRow("config read of a key name stays")
        << base + u"/config?arg=Pinning.RemoteServices.p.API.Key"_s
        << base + u"/config?arg=Pinning.RemoteServices.p.API.Key"_s;
    QTest::newRow("ordinary config value stays")
        << base + u"/config?arg=Gateway.NoFetch&arg=true&bool=true"_s
        << base + u"/config?arg=Gateway.NoFetch&arg=true&bool=true"_s;
    QTest::newRow("credential-named item anywhere") << base + u"/anything?Token=abc&api-key=def&arg=x"_s
                                                    << base + u"/anything?Token=***&api-key=***&arg=x"_s;
    QTest::newRow("ipns key name is no secret") << base + u"/name/publish?arg=%2Fipfs%2Fbafy&key=self"_s
                                                << base + u"/name/publish?arg=%2Fipfs%2Fbafy&key=self"_s;
    QTest::newRow("no query") << base + u"/id"_s << base + u"/id"_s;
    QTest::newRow("visible items keep their encoding")
        << base + u"/pin/remote/service/add?arg=a%26b&arg=%2B%20x&arg=t"_s
        << base + u"/pin/remote/service/add?arg=a%26b&arg=%2B%20x&arg=***"_s;
}

void TestLogMasking::masks()
{
    QFETCH(QString, url);
    QFETCH(QString, logged);
    const QUrl parsed(url, QUrl::StrictMode);
    QVERIFY(parsed.isValid());
    QCOMPARE(maskSecretsForLog(parsed), logged);
}

void TestLogMasking::serviceAddLogLineHidesTheToken()
{
    FakeKuboNode node;
    QVERIFY(node.start());
    node.route(u"/pin/remote/service/add"_s, FakeKuboNode::json("{}"));
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    QSignalSpy logged(&client, &IpfsClient::rpcRequestIssued);
    QSignalSpy added(&client, &IpfsClient::remoteServiceAdded);

    client.addRemoteService(u"pinata"_s, u"https://api.example/psa"_s, u"s3cr3t-token"_s);
    QVERIFY(added.wait());
    // The node still gets the real token.
    QCOMPARE(node.requests(u"/pin/remote/service/add"_s).first().queryValues(u"arg"_s).value(2),
        u"s3cr3t-token"_s);

    QCOMPARE(logged.size(), 1);
    const QString line = logged.first().first().toString();
    const QString url
        = u"http://127.0.0.1:%1/api/v0/pin/remote/service/add?arg=pinata&arg=https%3A%2F%2Fapi.example%2Fpsa&arg=***"_s
              .arg(node.port());
    const QRegularExpression shape(u"^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] POST (.*)$"_s);
    const QRegularExpressionMatch match = shape.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(1), url);
    QVERIFY(!line.contains(u"s3cr3t"_s));
}

QTEST_GUILESS_MAIN(TestLogMasking)
#include "tst_logmasking.moc"
