#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QTcpServer;
class QTcpSocket;

// An in-process HTTP/1.1 server on 127.0.0.1 that plays a Kubo node's RPC API for tests.
// Each route answers with a scripted response; every request is recorded.
class FakeKuboNode : public QObject
{
    Q_OBJECT

public:
    struct MultipartPart {
        QList<QPair<QByteArray, QByteArray>> headers; // names as sent
        QByteArray body;
        QByteArray header(const QByteArray& name) const; // case-insensitive
    };

    struct Request {
        QByteArray method;
        QString path;                              // e.g. "/api/v0/pin/ls"
        QList<QPair<QString, QString>> query;      // decoded, in order
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QList<MultipartPart> parts;                // filled for multipart/form-data bodies
        QString rawQuery;                          // as it stood in the request line

        QByteArray header(const QByteArray& name) const; // case-insensitive; empty when absent
        bool hasHeader(const QByteArray& name) const;
        QString queryValue(const QString& name) const;   // first value
        QStringList queryValues(const QString& name) const;
        QStringList queryKeys() const;                    // names in order, repeated as sent
    };

    struct Chunk {
        QByteArray data;
        int delayMs = 0; // wait before sending this chunk
    };

    struct Response {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QList<Chunk> chunks;          // body; several chunks are sent chunked-encoded
        bool neverAnswer = false;     // keep the connection open, send nothing
        bool hold = false;            // wait until releaseHeld() answers it
        int cutAfterBytes = -1;       // close the connection after this many body bytes
        bool chunkedEncoding = false; // force Transfer-Encoding: chunked even for one chunk
        // A failure after the body began, sent as Kubo sends it: the trailer "X-Stream-Error" of
        // a chunked reply that announced "Trailer: X-Stream-Error", the status staying 200.
        QByteArray streamError;
        // The status line's reason phrase, which a proxy in front of a node may write; empty: the usual one.
        QByteArray reason;

        Response& header(const QByteArray& name, const QByteArray& value);
    };

    using Handler = std::function<Response(const Request&)>;

    explicit FakeKuboNode(QObject* parent = nullptr);
    ~FakeKuboNode() override;

    bool start(quint16 port = 0);
    quint16 port() const;
    QString host() const { return QStringLiteral("127.0.0.1"); }

    // Routes are matched on the command path without "/api/v0" ("/pin/ls").
    void route(const QString& command, const Response& response);
    void route(const QString& command, Handler handler);
    void clearRoutes();

    // A real node refuses browser-looking POSTs without Origin or Referer, and unknown origins.
    void setBrowserGuard(bool on);
    void setAllowedOrigins(const QStringList& origins); // replaces the defaults

    // A request line and headers longer than Go's limit (1 MiB, with its 4 KiB of slack) are
    // refused with 431, as Kubo refuses them.
    static constexpr qsizetype kMaxHeadBytes = (1 << 20) + 4096;

    // Drops a connection whose request grows past this many bytes before it is complete,
    // as a proxy with an upload limit would; -1 (the default) accepts any size.
    void setRequestByteLimit(qint64 bytes) { requestByteLimit = bytes; }

    QList<Request> requests() const { return recorded; }
    QList<Request> requests(const QString& command) const;
    int requestCount(const QString& command) const;
    void clearRequests() { recorded.clear(); }

    // Held requests: answered only when the test says so.
    int heldCount(const QString& command = QString()) const;
    QList<Request> heldRequests(const QString& command = QString()) const;
    void releaseHeld(const QString& command, const Response& response, int count = -1);

    // Ready-made answers.
    static Response json(const QByteArray& body, int status = 200);
    static Response text(const QByteArray& body, int status = 200);
    static Response kuboError(const QString& message, int code = 0, int status = 500);
    // A streamed answer as Kubo sends one: chunked, announcing the trailer it may end with.
    static Response streamed(const QList<QByteArray>& pieces, int delayMs = 0);
    static Response streamFailure(const QList<QByteArray>& pieces, const QByteArray& error);
    static Response never();
    static Response held();

signals:
    void requestReceived(const QString& command);

private:
    struct Connection;
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void dispatch(QTcpSocket* socket, const Request& request);
    void send(QTcpSocket* socket, const Response& response);
    static void addKuboHeaders(const QString& command, Response* response);
    Response answerFor(const Request& request);

    QTcpServer* server = nullptr;
    QHash<QString, Handler> routes;
    QList<Request> recorded;
    QHash<QTcpSocket*, QByteArray> buffers;
    struct Held {
        QPointer<QTcpSocket> socket;
        Request request;
        QString command;
    };
    QList<Held> held_;
    bool browserGuard = true;
    QStringList allowedOrigins;
    bool customOrigins = false;
    qint64 requestByteLimit = -1;
};
