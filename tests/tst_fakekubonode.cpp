#include <QtTest>

#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "fakekubonode.h"

// The fake node is the ground every other test stands on: check it behaves like a node.
class TestFakeKuboNode : public QObject
{
    Q_OBJECT

    QNetworkReply* post(QNetworkAccessManager& manager, FakeKuboNode& node, const QString& command,
                        const QByteArray& userAgent = "Vaxel/test")
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0%2").arg(node.port()).arg(command)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
        return manager.post(request, QByteArray());
    }

    static QByteArray finish(QNetworkReply* reply)
    {
        if (!reply->isFinished()) {
            QSignalSpy spy(reply, &QNetworkReply::finished);
            spy.wait(5000);
        }
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }

private slots:
    void answersRoutesAndRecordsQueryInOrder()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/pin/ls"), FakeKuboNode::json("{\"Keys\":{}}"));
        QNetworkAccessManager manager;
        QNetworkReply* reply = post(manager, node, QStringLiteral("/pin/ls?type=all&arg=b&arg=a%20c"));
        QCOMPARE(finish(reply), QByteArray("{\"Keys\":{}}"));
        QCOMPARE(node.requestCount(QStringLiteral("/pin/ls")), 1);
        const auto request = node.requests(QStringLiteral("/pin/ls")).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.queryKeys(), (QStringList { QStringLiteral("type"), QStringLiteral("arg"), QStringLiteral("arg") }));
        QCOMPARE(request.queryValues(QStringLiteral("arg")), (QStringList { QStringLiteral("b"), QStringLiteral("a c") }));
        QCOMPARE(request.header("user-agent"), QByteArray("Vaxel/test"));
    }

    void refusesLikeARealNode()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/id"), FakeKuboNode::json("{}"));
        QNetworkAccessManager manager;

        QNetworkReply* browser = post(manager, node, QStringLiteral("/id"), "Mozilla/5.0");
        QCOMPARE(finish(browser), QByteArray("403 - Forbidden"));
        QCOMPARE(browser->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);

        QNetworkReply* get = manager.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/id").arg(node.port()))));
        QCOMPARE(finish(get), QByteArray("405 - Method Not Allowed"));

        QNetworkReply* unknown = post(manager, node, QStringLiteral("/nope"));
        finish(unknown);
        QCOMPARE(unknown->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);

        QNetworkRequest withOrigin(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/id").arg(node.port())));
        withOrigin.setRawHeader("Origin", "Vaxel 1.1.4");
        QNetworkReply* badOrigin = manager.post(withOrigin, QByteArray());
        finish(badOrigin);
        QCOMPARE(badOrigin->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);

        withOrigin.setRawHeader("Origin", QStringLiteral("http://127.0.0.1:%1").arg(node.port()).toUtf8());
        QNetworkReply* goodOrigin = manager.post(withOrigin, QByteArray());
        QCOMPARE(finish(goodOrigin), QByteArray("{}"));
    }

    void streamsHoldsAndCuts()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/refs/local"), FakeKuboNode::streamed({ "{\"Ref\":\"a\"}\n{\"Re", "f\":\"b\"}\n" }, 20));
        node.route(QStringLiteral("/cat"), FakeKuboNode::held());
        FakeKuboNode::Response cut = FakeKuboNode::text("0123456789");
        cut.cutAfterBytes = 4;
        node.route(QStringLiteral("/ls"), cut);
        QNetworkAccessManager manager;

        QCOMPARE(finish(post(manager, node, QStringLiteral("/refs/local"))), QByteArray("{\"Ref\":\"a\"}\n{\"Ref\":\"b\"}\n"));

        QNetworkReply* heldReply = post(manager, node, QStringLiteral("/cat?arg=x"));
        QTRY_COMPARE(node.heldCount(QStringLiteral("/cat")), 1);
        QVERIFY(!heldReply->isFinished());
        node.releaseHeld(QStringLiteral("/cat"), FakeKuboNode::text("data"));
        QCOMPARE(finish(heldReply), QByteArray("data"));

        QNetworkReply* cutReply = post(manager, node, QStringLiteral("/ls"));
        finish(cutReply);
        QVERIFY(cutReply->error() != QNetworkReply::NoError);
    }

    void recordsMultipartParts()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/add"), FakeKuboNode::json("{}"));
        QNetworkAccessManager manager;
        auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"file\"; filename=\"a.txt\""));
        part.setBody("hello\r\nworld");
        multipart->append(part);
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/add").arg(node.port())));
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Vaxel/test"));
        QNetworkReply* reply = manager.post(request, multipart);
        multipart->setParent(reply);
        finish(reply);
        const auto parts = node.requests(QStringLiteral("/add")).first().parts;
        QCOMPARE(parts.size(), 1);
        QCOMPARE(parts.first().body, QByteArray("hello\r\nworld"));
        QVERIFY(parts.first().header("content-disposition").contains("filename=\"a.txt\""));
    }
};

QTEST_MAIN(TestFakeKuboNode)
#include "tst_fakekubonode.moc"
