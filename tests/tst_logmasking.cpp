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
    void masksFailureTexts_data();
    void masksFailureTexts();
    void serviceAddFailureHidesTheToken_data();
    void serviceAddFailureHidesTheToken();
    void configSetFailureHidesTheValue();
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

void TestLogMasking::masksFailureTexts_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");

    const QString base = u"http://127.0.0.1:5001/api/v0"_s;
    const QString add = base + u"/pin/remote/service/add?arg=p&arg=https%3A%2F%2Fe&arg=s3cr%2Bt%26x"_s;
    const QString addMasked = base + u"/pin/remote/service/add?arg=p&arg=https%3A%2F%2Fe&arg=***"_s;
    QTest::newRow("the URL as the network layer quotes it")
        << add << u"Error transferring %1 - server replied: Bad Gateway"_s.arg(QUrl(add).toString())
        << u"Error transferring %1 - server replied: Bad Gateway"_s.arg(QUrl(addMasked).toString());
    QTest::newRow("the fully encoded URL") << add << u"at "_s + add << u"at "_s + addMasked;
    QTest::newRow("the token quoted back") << add << u"token s3cr+t&x refused"_s << u"token *** refused"_s;
    QTest::newRow("the token quoted back encoded")
        << add << u"token s3cr%2Bt%26x refused"_s << u"token *** refused"_s;
    QTest::newRow("a short token is left in free text")
        << base + u"/pin/remote/service/add?arg=p&arg=e&arg=abc"_s << u"abc: denied"_s << u"abc: denied"_s;
    QTest::newRow("nothing secret in the request")
        << base + u"/pin/remote/service/rm?arg=s3cr3t"_s << u"s3cr3t missing"_s << u"s3cr3t missing"_s;
}

void TestLogMasking::masksFailureTexts()
{
    QFETCH(QString, url);
    QFETCH(QString, text);
    QFETCH(QString, masked);
    const QUrl parsed(url, QUrl::StrictMode);
    QVERIFY(parsed.isValid());
    QCOMPARE(maskSecretsInText(text, parsed), masked);
}

void TestLogMasking::serviceAddFailureHidesTheToken_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    // A blank body leaves the status text: never the request URL, which carries the token.
    QTest::newRow("http error, blank body") << 502 << QByteArray();
    QTest::newRow("http error quoting the token")
        << 500 << QByteArray(R"({"Message":"key s3cr3t+t&k=n#x rejected","Code":0,"Type":"error"})");
    QTest::newRow("error member quoting the token")
        << 200 << QByteArray(R"({"Error":"key s3cr3t+t&k=n#x rejected"})");
}

void TestLogMasking::serviceAddFailureHidesTheToken()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    FakeKuboNode node;
    QVERIFY(node.start());
    node.route(u"/pin/remote/service/add"_s, FakeKuboNode::text(body, status));
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    QSignalSpy failed(&client, &IpfsClient::remoteServiceAddFailed);

    const QString token = u"s3cr3t+t&k=n#x"_s;
    client.addRemoteService(u"pinata"_s, u"https://api.example/psa"_s, token);
    QVERIFY(failed.wait());
    const QString message = failed.first().first().toString();
    QVERIFY2(message.startsWith(u"Failed to add remote service 'pinata': "_s), qPrintable(message));
    // Where the node quotes the token, it is masked; the request URL never appears.
    if (body.contains("s3cr3t"))
        QVERIFY2(message.contains(u"***"_s), qPrintable(message));
    QVERIFY2(!message.contains(u"s3cr3t"_s), qPrintable(message));
    QVERIFY2(!message.contains(u"/api/v0"_s), qPrintable(message));
}

void TestLogMasking::configSetFailureHidesTheValue()
{
    FakeKuboNode node;
    QVERIFY(node.start());
    // A blank error body leaves the network layer's error string, which quotes the request URL.
    node.route(u"/config"_s, FakeKuboNode::text(QByteArray(), 502));
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    QSignalSpy failed(&client, &IpfsClient::configKeySetFailed);
    QSignalSpy errors(&client, &IpfsClient::errorOccurred);

    client.setConfigKey(u"Pinning.RemoteServices.p.API.Key"_s, u"s3cr3tvalue"_s, false, false);
    QVERIFY(failed.wait());
    const QString message = failed.first().first().toString();
    QVERIFY2(message.startsWith(u"Failed to set config key: "_s), qPrintable(message));
    QVERIFY2(!message.contains(u"s3cr3tvalue"_s), qPrintable(message));
    QCOMPARE(errors.first().first().toString(), message);
}

QTEST_GUILESS_MAIN(TestLogMasking)
#include "tst_logmasking.moc"
