#include "testsettings.h"
#include <QtTest>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"

#include <QJsonDocument>
#include <QJsonObject>

using QueryItems = QList<QPair<QString, QString>>;

namespace {

QPair<QString, QString> item(const char* name, const QString& value)
{
    return { QString::fromLatin1(name), value };
}

// How the failure detail after the operation's prefix is made.
enum class Detail {
    NodeMessage, // the node's "Message", or the status without one; never a URL or the whole body
    ParserText, // the JSON parser's text for the body
};

} // namespace

Q_DECLARE_METATYPE(Detail)

class TestConfigOperations : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    void run(const QString& operation)
    {
        if (operation == QLatin1String("show"))
            client->fetchConfig();
        else if (operation == QLatin1String("get"))
            client->fetchConfigKey(QStringLiteral("Addresses.API"), false);
        else if (operation == QLatin1String("set"))
            client->setConfigKey(QStringLiteral("Addresses.API"), QStringLiteral("x"), false, false);
        else
            client->replaceConfig("{\"a\":1}");
    }

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete client;
        delete node;
        appSettings().clear();
    }

    void sendsQuery_data();
    void sendsQuery();
    void refusesInputWithoutSending_data();
    void refusesInputWithoutSending();
    void reportsFailures_data();
    void reportsFailures();
    void deliversReplies();
    void replaceUploadsOneMultipartPart();
    void replaceCarriesConfiguredOrigin();
};

void TestConfigOperations::sendsQuery_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("first");
    QTest::addColumn<bool>("second");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QueryItems>("query");

    QTest::newRow("show has no query")
        << "show" << QString() << QString() << false << false << "/config/show" << QueryItems();
    QTest::newRow("get trims the key") << "get"
                                       << "  Addresses.API \t" << QString() << false << false << "/config"
                                       << QueryItems { item("arg", QStringLiteral("Addresses.API")) };
    QTest::newRow("get with expand-auto") << "get"
                                          << "Bootstrap" << QString() << true << false << "/config"
                                          << QueryItems { item("arg", QStringLiteral("Bootstrap")),
                                                 item("expand-auto", QStringLiteral("true")) };
    QTest::newRow("set keeps the value's blanks")
        << "set"
        << " Gateway.RootRedirect "
        << "  /ipfs/x  " << false << false << "/config"
        << QueryItems { item("arg", QStringLiteral("Gateway.RootRedirect")),
               item("arg", QStringLiteral("  /ipfs/x  ")) };
    QTest::newRow("set bool") << "set"
                              << "Discovery.MDNS.Enabled"
                              << "false" << true << false << "/config"
                              << QueryItems { item("arg", QStringLiteral("Discovery.MDNS.Enabled")),
                                     item("arg", QStringLiteral("false")),
                                     item("bool", QStringLiteral("true")) };
    QTest::newRow("set json") << "set"
                              << "Bootstrap"
                              << "[\"/ip4/1.2.3.4/tcp/4001\"]" << false << true << "/config"
                              << QueryItems { item("arg", QStringLiteral("Bootstrap")),
                                     item("arg", QStringLiteral("[\"/ip4/1.2.3.4/tcp/4001\"]")),
                                     item("json", QStringLiteral("true")) };
    // Sent as typed: no character is taken for an escape or a separator.
    for (const char* text : { "a&b=c+d%20#e", "100%", "%2B%41", "a b;c/d?e" }) {
        QTest::addRow("set value %s", text)
            << "set"
            << "K" << QString::fromLatin1(text) << false << false << "/config"
            << QueryItems { item("arg", QStringLiteral("K")), item("arg", QString::fromLatin1(text)) };
    }
    QTest::newRow("get key with a percent sign") << "get"
                                                 << "A%41" << QString() << false << false << "/config"
                                                 << QueryItems { item("arg", QStringLiteral("A%41")) };
}

void TestConfigOperations::sendsQuery()
{
    QFETCH(QString, operation);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, first);
    QFETCH(bool, second);
    QFETCH(QString, command);
    QFETCH(QueryItems, query);

    node->route(command, FakeKuboNode::json("{\"Key\":\"k\",\"Value\":1}"));
    QSignalSpy log(client, &IpfsClient::rpcRequestIssued);
    QSignalSpy errors(client, &IpfsClient::errorOccurred);
    if (operation == QLatin1String("show"))
        client->fetchConfig();
    else if (operation == QLatin1String("get"))
        client->fetchConfigKey(key, first);
    else
        client->setConfigKey(key, value, first, second);

    QTRY_COMPARE(node->requestCount(command), 1);
    const FakeKuboNode::Request request = node->requests(command).first();
    QCOMPARE(request.query, query);
    if (query.isEmpty())
        QVERIFY(request.rawQuery.isEmpty());
    QCOMPARE(log.size(), 1);
    const QString url = QStringLiteral("http://127.0.0.1:%1/api/v0%2").arg(node->port()).arg(command);
    const QString line = log.first().first().toString();
    QVERIFY2(
        line.contains(QStringLiteral("] POST ") + url + (query.isEmpty() ? QString() : QStringLiteral("?"))),
        qPrintable(line));
    QVERIFY(query.isEmpty() == line.endsWith(url));
    QTest::qWait(20);
    QCOMPARE(errors.size(), 0);
}

void TestConfigOperations::refusesInputWithoutSending_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("boolFlag");
    QTest::addColumn<bool>("jsonFlag");
    QTest::addColumn<QString>("message");

    const QString keyRequired = QStringLiteral("Config key is required.");
    QTest::newRow("get blank key") << "get"
                                   << " \t " << QByteArray() << false << false << keyRequired;
    QTest::newRow("set blank key") << "set"
                                   << "   " << QByteArray() << false << false << keyRequired;
    QTest::newRow("set blank key is tested before the flags")
        << "set"
        << "   " << QByteArray() << true << true << keyRequired;
    QTest::newRow("set both flags")
        << "set"
        << "Discovery.MDNS.Enabled" << QByteArray() << true << true
        << "Invalid config write mode: bool and json flags are mutually exclusive.";
    QTest::newRow("replace blanks") << "replace" << QString() << QByteArray(" \n\t \r\n") << false << false
                                    << "Config JSON payload is empty.";
    QTest::newRow("replace nothing") << "replace" << QString() << QByteArray() << false << false
                                     << "Config JSON payload is empty.";
}

void TestConfigOperations::refusesInputWithoutSending()
{
    QFETCH(QString, operation);
    QFETCH(QString, key);
    QFETCH(QByteArray, payload);
    QFETCH(bool, boolFlag);
    QFETCH(bool, jsonFlag);
    QFETCH(QString, message);

    QSignalSpy getFailed(client, &IpfsClient::configKeyRequestFailed);
    QSignalSpy setFailed(client, &IpfsClient::configKeySetFailed);
    QSignalSpy replaceFailed(client, &IpfsClient::configReplaceFailed);
    QSignalSpy errors(client, &IpfsClient::errorOccurred);
    QSignalSpy log(client, &IpfsClient::rpcRequestIssued);

    QSignalSpy* expected = &replaceFailed;
    if (operation == QLatin1String("get")) {
        client->fetchConfigKey(key, true);
        expected = &getFailed;
    } else if (operation == QLatin1String("set")) {
        client->setConfigKey(key, QStringLiteral("v"), boolFlag, jsonFlag);
        expected = &setFailed;
    } else {
        client->replaceConfig(payload);
    }

    // Refused inside the call, before any event loop runs.
    QCOMPARE(expected->size(), 1);
    QCOMPARE(expected->first().first().toString(), message);
    QCOMPARE(getFailed.size() + setFailed.size() + replaceFailed.size(), 1);
    QCOMPARE(errors.size(), 0);
    QTest::qWait(50);
    QCOMPARE(log.size(), 0);
    QCOMPARE(node->requests().size(), 0);
}

void TestConfigOperations::reportsFailures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<Detail>("detail");

    const QByteArray kuboError = "{\"Message\":\"config key not found\",\"Code\":0,\"Type\":\"error\"}";
    QTest::newRow("show http error") << "show"
                                     << "/config/show" << 500 << kuboError
                                     << "Failed to get config: " << Detail::NodeMessage;
    QTest::newRow("show array") << "show"
                                << "/config/show" << 200 << QByteArray("[1,2]")
                                << "Invalid config JSON: " << Detail::ParserText;
    QTest::newRow("show number") << "show"
                                 << "/config/show" << 200 << QByteArray("42")
                                 << "Invalid config JSON: " << Detail::ParserText;
    QTest::newRow("show garbage") << "show"
                                  << "/config/show" << 200 << QByteArray("{\"API\":")
                                  << "Invalid config JSON: " << Detail::ParserText;
    QTest::newRow("get http error") << "get"
                                    << "/config" << 500 << kuboError
                                    << "Failed to get config key: " << Detail::NodeMessage;
    QTest::newRow("get bad request") << "get"
                                     << "/config" << 400 << kuboError
                                     << "Failed to get config key: " << Detail::NodeMessage;
    QTest::newRow("get not json") << "get"
                                  << "/config" << 200 << QByteArray("hello")
                                  << "Invalid config/get JSON: " << Detail::ParserText;
    QTest::newRow("set http error") << "set"
                                    << "/config" << 500 << kuboError
                                    << "Failed to set config key: " << Detail::NodeMessage;
    QTest::newRow("set array") << "set"
                               << "/config" << 200 << QByteArray("[]")
                               << "Invalid config/set JSON: " << Detail::ParserText;
    QTest::newRow("replace refused")
        << "replace"
        << "/config/replace" << 500
        << QByteArray("  {\"Message\":\"setting private key with API is not supported\"}\n")
        << "Failed to replace config: " << Detail::NodeMessage;
    QTest::newRow("replace refused without body")
        << "replace"
        << "/config/replace" << 500 << QByteArray() << "Failed to replace config: " << Detail::NodeMessage;
}

void TestConfigOperations::reportsFailures()
{
    QFETCH(QString, operation);
    QFETCH(QString, command);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, prefix);
    QFETCH(Detail, detail);

    node->route(command, FakeKuboNode::json(body, status));
    QSignalSpy configFailed(client, &IpfsClient::configFailed);
    QSignalSpy getFailed(client, &IpfsClient::configKeyRequestFailed);
    QSignalSpy setFailed(client, &IpfsClient::configKeySetFailed);
    QSignalSpy replaceFailed(client, &IpfsClient::configReplaceFailed);
    QSignalSpy received(client, &IpfsClient::configReceived);
    QSignalSpy replaced(client, &IpfsClient::configReplaceSucceeded);

    // Both the catch-all and the operation's own signal carry the text, the catch-all first.
    QStringList order;
    connect(client, &IpfsClient::errorOccurred, this,
        [&order](const QString& m) { order << QStringLiteral("E:") + m; });
    const auto own = [&order](const QString& m) { order << QStringLiteral("O:") + m; };
    connect(client, &IpfsClient::configFailed, this, own);
    connect(client, &IpfsClient::configKeyRequestFailed, this, own);
    connect(client, &IpfsClient::configKeySetFailed, this, own);
    connect(client, &IpfsClient::configReplaceFailed, this, own);

    run(operation);
    QTRY_COMPARE(order.size(), 2);
    QVERIFY(order.at(0).startsWith(QLatin1String("E:")));
    QVERIFY(order.at(1).startsWith(QLatin1String("O:")));
    const QString message = order.at(1).mid(2);
    QCOMPARE(order.at(0).mid(2), message);
    QCOMPARE(configFailed.size() + getFailed.size() + setFailed.size() + replaceFailed.size(), 1);
    QVERIFY2(message.startsWith(prefix), qPrintable(message));

    const QString rest = message.mid(prefix.size());
    switch (detail) {
    case Detail::NodeMessage: {
        const QString nodeMessage = QJsonDocument::fromJson(body).object().value(QLatin1String("Message")).toString();
        if (nodeMessage.isEmpty())
            QVERIFY2(rest.startsWith(QString::number(status)), qPrintable(rest));
        else
            QCOMPARE(rest, nodeMessage);
        QVERIFY(!rest.contains(QLatin1String("http://")));
        break;
    }
    case Detail::ParserText: {
        QJsonParseError error;
        QJsonDocument::fromJson(body, &error);
        QCOMPARE(rest, error.errorString());
        break;
    }
    }
    QCOMPARE(received.size(), 0);
    QCOMPARE(replaced.size(), 0);
}

void TestConfigOperations::deliversReplies()
{
    node->route(QStringLiteral("/config/show"),
        FakeKuboNode::json("{\"API\":{\"HTTPHeaders\":{}},\"Bootstrap\":[]}"));
    QSignalSpy received(client, &IpfsClient::configReceived);
    client->fetchConfig();
    QVERIFY(received.wait());
    QCOMPARE(received.first().first().toJsonObject().keys(),
        (QStringList { QStringLiteral("API"), QStringLiteral("Bootstrap") }));

    node->route(QStringLiteral("/config"),
        FakeKuboNode::json("{\"Key\":\"Swarm.ConnMgr\",\"Value\":{\"HighWater\":96}}"));
    QSignalSpy keyReceived(client, &IpfsClient::configKeyReceived);
    client->fetchConfigKey(QStringLiteral("Swarm.ConnMgr"), false);
    QVERIFY(keyReceived.wait());
    QCOMPARE(keyReceived.first().at(0).toString(), QStringLiteral("Swarm.ConnMgr"));
    QCOMPARE(
        keyReceived.first().at(1).toJsonValue().toObject().value(QLatin1String("HighWater")).toInt(), 96);

    // A missing or non-string key and a missing value are not errors.
    node->route(QStringLiteral("/config"), FakeKuboNode::json("{\"Key\":7}"));
    QSignalSpy keySet(client, &IpfsClient::configKeySet);
    QSignalSpy setFailed(client, &IpfsClient::configKeySetFailed);
    client->setConfigKey(QStringLiteral("Foo"), QStringLiteral("bar"), false, false);
    QVERIFY(keySet.wait());
    QCOMPARE(keySet.first().at(0).toString(), QString());
    QVERIFY(keySet.first().at(1).toJsonValue().isUndefined());
    QCOMPARE(setFailed.size(), 0);

    // The replace reply's body is not looked at.
    node->route(QStringLiteral("/config/replace"), FakeKuboNode::text("not json at all"));
    QSignalSpy replaced(client, &IpfsClient::configReplaceSucceeded);
    client->replaceConfig("{}");
    QVERIFY(replaced.wait());
}

void TestConfigOperations::replaceUploadsOneMultipartPart()
{
    node->route(QStringLiteral("/config/replace"), FakeKuboNode::json(""));
    QSignalSpy log(client, &IpfsClient::rpcRequestIssued);
    QSignalSpy replaced(client, &IpfsClient::configReplaceSucceeded);
    const QByteArray payload = "  {\"Addresses\": {\"API\": \"/ip4/127.0.0.1/tcp/5001\"}, \"é\": 1}\n ";
    client->replaceConfig(payload);
    QVERIFY(replaced.wait());

    QCOMPARE(node->requestCount(QStringLiteral("/config/replace")), 1);
    const FakeKuboNode::Request request = node->requests(QStringLiteral("/config/replace")).first();
    QVERIFY(request.rawQuery.isEmpty());
    QVERIFY2(request.header("Content-Type").startsWith("multipart/form-data; boundary="),
        request.header("Content-Type"));
    QCOMPARE(request.header("User-Agent"), vaxelUserAgent());
    QVERIFY(!request.hasHeader("Origin"));
    QCOMPARE(request.parts.size(), 1);
    const FakeKuboNode::MultipartPart part = request.parts.first();
    QCOMPARE(
        part.header("Content-Disposition"), QByteArray("form-data; name=\"file\"; filename=\"config.json\""));
    QCOMPARE(part.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(part.body, payload);

    QCOMPARE(log.size(), 1);
    const QString line = log.first().first().toString();
    QVERIFY(QRegularExpression(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] POST "
                                              "http://127\\.0\\.0\\.1:%1/api/v0/config/replace$")
                                   .arg(node->port()))
                .match(line)
                .hasMatch());
}

void TestConfigOperations::replaceCarriesConfiguredOrigin()
{
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(node->port());
    appSettings().setValue(QStringLiteral("http/sendOrigin"), true);
    appSettings().setValue(QStringLiteral("http/originValue"), origin);
    node->route(QStringLiteral("/config/replace"), FakeKuboNode::json("{}"));
    QSignalSpy replaced(client, &IpfsClient::configReplaceSucceeded);
    client->replaceConfig("{}");
    QVERIFY(replaced.wait());
    QCOMPARE(node->requests(QStringLiteral("/config/replace")).first().header("Origin"), origin.toUtf8());

    // An origin the node does not allow is refused, and the refusal is reported.
    appSettings().setValue(QStringLiteral("http/originValue"), QStringLiteral("https://elsewhere.example"));
    QSignalSpy failed(client, &IpfsClient::configReplaceFailed);
    client->replaceConfig("{}");
    QVERIFY(failed.wait());
    QVERIFY(failed.first().first().toString().startsWith(QLatin1String("Failed to replace config: ")));
}

QTEST_MAIN(TestConfigOperations)
#include "tst_configoperations.moc"
