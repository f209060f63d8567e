#include "httpresponsereader.h"
#include "nodehttpreply.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// A server that answers every connection with the given bytes, sent in pieces, then closes
// (unless told to keep the connection open); it keeps what each request sent.
class RawHttpServer : public QObject
{
public:
    QList<QByteArray> pieces;
    int pieceDelayMs = 0;
    bool closeAfterAnswer = true;
    QByteArray lastRequest;

    RawHttpServer()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    lastRequest += socket->readAll();
                    if (!lastRequest.contains("\r\n\r\n") || answered.contains(socket))
                        return;
                    answered.insert(socket);
                    sendPiece(socket, 0);
                });
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

private:
    void sendPiece(QTcpSocket* socket, int index)
    {
        if (index >= pieces.size()) {
            if (closeAfterAnswer)
                socket->disconnectFromHost();
            return;
        }
        socket->write(pieces.at(index));
        socket->flush();
        QTimer::singleShot(pieceDelayMs, socket, [this, socket, index] { sendPiece(socket, index + 1); });
    }

    QTcpServer server;
    QSet<QTcpSocket*> answered;
};

class TestNodeHttpReply : public QObject
{
    Q_OBJECT

private:
    static QNetworkRequest requestTo(quint16 port, const QString& pathAndQuery = QStringLiteral("/api/v0/pin/ls"))
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(pathAndQuery)));
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Vaxel/test"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        return request;
    }

    struct Outcome {
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString errorString;
        QByteArray body;
        int status = 0;
        QByteArray header;
    };

    static Outcome run(RawHttpServer& server, QNetworkRequest request, const QByteArray& headerName = {})
    {
        auto* reply = new NodeHttpReply(request, QByteArray(), nullptr);
        Outcome outcome;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, &outcome] { outcome.body += reply->readAll(); });
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!finished.wait(10000))
            qWarning("reply did not finish");
        outcome.body += reply->readAll();
        outcome.error = reply->error();
        outcome.errorString = reply->errorString();
        outcome.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!headerName.isEmpty())
            outcome.header = reply->rawHeader(headerName);
        delete reply;
        Q_UNUSED(server)
        return outcome;
    }

private slots:
    void readerFramesBodies_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("streamError");

        QTest::newRow("content length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
                                        << true << QByteArray("hello") << QByteArray();
        QTest::newRow("chunked with a stream error")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Stream-Error\r\n\r\n"
                          "4\r\nabcd\r\n3;ext=1\r\nefg\r\n0\r\nX-Stream-Error: walk failed: gone\r\n\r\n")
            << true << QByteArray("abcdefg") << QByteArray("walk failed: gone");
        QTest::newRow("interim answer first")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok") << true
            << QByteArray("ok") << QByteArray();
        QTest::newRow("chunked without its last chunk")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n") << false
            << QByteArray("abcd") << QByteArray();
    }

    void readerFramesBodies()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, complete);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, streamError);

        // Whole, and a byte at a time: framing never depends on how the bytes arrive.
        for (const int step : { int(response.size()), 1 }) {
            HttpResponseReader reader;
            QByteArrayList decoded;
            for (int at = 0; at < response.size(); at += step)
                QVERIFY(reader.feed(response.mid(at, step), decoded));
            QCOMPARE(reader.isComplete(), complete);
            QCOMPARE(decoded.join(), body);
            QCOMPARE(reader.trailer("x-stream-error"), streamError);
            QCOMPARE(reader.statusCode(), 200);
        }
    }

    void readerRefusesMalformedAnswers_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::newRow("not http") << QByteArray("SSH-2.0-OpenSSH\r\n");
        QTest::newRow("bad chunk size") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n");
        QTest::newRow("bad length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -4\r\n\r\n");
        QTest::newRow("chunk overruns") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n");
    }

    void readerRefusesMalformedAnswers()
    {
        QFETCH(QByteArray, response);
        HttpResponseReader reader;
        QByteArrayList decoded;
        QVERIFY(!reader.feed(response, decoded));
        QVERIFY(reader.hasFailed());
        QVERIFY(!reader.failure().isEmpty());
    }

    void replyOutcomes_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("errorString");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("streamed answer")
            << QList<QByteArray> { "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "3\r\nabc\r\n",
                   "2\r\nde\r\n0\r\n\r\n" }
            << int(QNetworkReply::NoError) << QString() << QByteArray("abcde");
        QTest::newRow("failure after the answer began")
            << QList<QByteArray> { "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Stream-Error\r\n\r\n",
                   "3\r\nabc\r\n", "0\r\nX-Stream-Error: to-files: parent does not exist\r\n\r\n" }
            << int(QNetworkReply::InternalServerError) << QStringLiteral("to-files: parent does not exist")
            << QByteArray("abc");
        QTest::newRow("error object")
            << QList<QByteArray> { "HTTP/1.1 500 Internal Server Error\r\nContent-Type: application/json\r\n"
                                   "Content-Length: 69\r\n\r\n"
                                   "{\"Message\":\"not pinned or pinned indirectly\",\"Code\":0,\"Type\":\"error\"}" }
            << int(QNetworkReply::InternalServerError) << QStringLiteral("not pinned or pinned indirectly")
            << QByteArray("{\"Message\":\"not pinned or pinned indirectly\",\"Code\":0,\"Type\":\"error\"}");
        QTest::newRow("plain error text")
            << QList<QByteArray> { "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 24\r\n\r\n405 - Method Not Allowed" }
            << int(QNetworkReply::ContentOperationNotPermittedError) << QStringLiteral("405 - Method Not Allowed")
            << QByteArray("405 - Method Not Allowed");
        QTest::newRow("error page")
            << QList<QByteArray> { "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 13\r\n\r\n<html></html>" }
            << int(QNetworkReply::UnknownServerError) << QStringLiteral("502 Bad Gateway") << QByteArray("<html></html>");
        QTest::newRow("content shorter than announced")
            << QList<QByteArray> { "HTTP/1.1 200 OK\r\nX-Content-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n"
                                   "4\r\nabcd\r\n0\r\n\r\n" }
            << int(QNetworkReply::UnknownContentError) << QStringLiteral("The node sent 4 of 10 bytes")
            << QByteArray("abcd");
        QTest::newRow("cut off")
            << QList<QByteArray> { "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc" }
            << int(QNetworkReply::RemoteHostClosedError) << QStringLiteral("Connection closed") << QByteArray("abc");
        QTest::newRow("until the connection ends")
            << QList<QByteArray> { "HTTP/1.1 200 OK\r\n\r\nab", "cd" }
            << int(QNetworkReply::NoError) << QString() << QByteArray("abcd");
    }

    void replyOutcomes()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, error);
        QFETCH(QString, errorString);
        QFETCH(QByteArray, body);

        RawHttpServer server;
        server.pieces = pieces;
        server.pieceDelayMs = 20;
        const Outcome outcome = run(server, requestTo(server.port()));
        QCOMPARE(int(outcome.error), error);
        if (!errorString.isEmpty())
            QCOMPARE(outcome.errorString, errorString);
        QCOMPARE(outcome.body, body);
        QVERIFY(outcome.status >= 200);
    }

    void refusedOriginSaysWhereToAllowIt()
    {
        RawHttpServer server;
        server.pieces = { "HTTP/1.1 403 Forbidden\r\nContent-Length: 15\r\n\r\n403 - Forbidden" };
        QNetworkRequest request = requestTo(server.port());
        request.setRawHeader("Origin", "Vaxel 1.1.4");
        const Outcome outcome = run(server, request);
        QCOMPARE(outcome.error, QNetworkReply::ContentAccessDenied);
        QVERIFY2(outcome.errorString.contains(QLatin1String("\"Vaxel 1.1.4\"")), qPrintable(outcome.errorString));
        QVERIFY(outcome.errorString.contains(QLatin1String("API.HTTPHeaders.Access-Control-Allow-Origin")));
        QVERIFY(outcome.errorString.contains(QStringLiteral("http://127.0.0.1:%1").arg(server.port())));
    }

    void requestCarriesTheFrame()
    {
        RawHttpServer server;
        server.pieces = { "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}" };
        QNetworkRequest request = requestTo(server.port(), QStringLiteral("/api/v0/pin/rm?arg=Qm1&arg=b%2B2"));
        request.setRawHeader("Origin", "http://127.0.0.1:5001");
        auto* reply = new NodeHttpReply(request, QByteArrayLiteral("x=1"), nullptr);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray("{}"));
        delete reply;
        const QByteArray sent = server.lastRequest;
        QVERIFY2(sent.startsWith("POST /api/v0/pin/rm?arg=Qm1&arg=b%2B2 HTTP/1.1\r\n"), sent.constData());
        QVERIFY(sent.contains(QByteArray("\r\nHost: 127.0.0.1:") + QByteArray::number(server.port()) + "\r\n"));
        QVERIFY(sent.contains("\r\nUser-Agent: Vaxel/test\r\n"));
        QVERIFY(sent.contains("\r\nOrigin: http://127.0.0.1:5001\r\n"));
        QVERIFY(sent.contains("\r\nContent-Length: 3\r\n"));
        QVERIFY(sent.endsWith("\r\n\r\nx=1"));
    }

    void silenceEndsTheRequest()
    {
        RawHttpServer server;
        server.pieces = { "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\na\r\n" };
        server.closeAfterAnswer = false;
        QNetworkRequest request = requestTo(server.port());
        request.setTransferTimeout(300);
        const Outcome outcome = run(server, request);
        QCOMPARE(outcome.error, QNetworkReply::OperationCanceledError);
        QCOMPARE(outcome.body, QByteArray("a"));
    }

    void abortFinishesAtOnce()
    {
        RawHttpServer server;
        server.closeAfterAnswer = false; // sends nothing, keeps the connection
        auto* reply = new NodeHttpReply(requestTo(server.port()), QByteArray(), nullptr);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QTest::qWait(50);
        reply->abort();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(reply->error(), QNetworkReply::OperationCanceledError);
        QVERIFY(reply->isFinished());
        reply->abort(); // a second abort does nothing
        QCOMPARE(finished.count(), 1);
        delete reply;
    }

    void refusedConnectionIsANetworkError()
    {
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            closedPort = probe.serverPort();
        }
        RawHttpServer unused;
        const Outcome outcome = run(unused, requestTo(closedPort));
        QCOMPARE(outcome.error, QNetworkReply::ConnectionRefusedError);
        QCOMPARE(outcome.status, 0);
    }
};

QTEST_GUILESS_MAIN(TestNodeHttpReply)
#include "tst_nodehttpreply.moc"
