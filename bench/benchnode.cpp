#include "benchnode.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

namespace {

// A node flushes its stream in pieces; the client sees many reads, as with a real one.
constexpr qsizetype kStreamChunkBytes = 32 * 1024;
// Bytes allowed to wait in the socket before the next piece is written.
constexpr qint64 kMaxBufferedBytes = 2 * 1024 * 1024;

QByteArray statusLine(int status)
{
    switch (status) {
    case 200:
        return "HTTP/1.1 200 OK\r\n";
    case 404:
        return "HTTP/1.1 404 Not Found\r\n";
    case 405:
        return "HTTP/1.1 405 Method Not Allowed\r\n";
    default:
        return "HTTP/1.1 500 Internal Server Error\r\n";
    }
}

QByteArray jsonBody(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

BenchNode::BenchNode(const PinFixture& pins)
    : fixture(pins)
{ }

BenchNode::~BenchNode()
{
    if (!thread)
        return;
    // The server and its sockets belong to the node's thread: close them there.
    QMetaObject::invokeMethod(
        this,
        [this] {
            for (auto it = connections.cbegin(); it != connections.cend(); ++it)
                it.key()->abort();
            delete server;
            server = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete thread;
}

bool BenchNode::start(quint16 port)
{
    thread = new QThread;
    thread->setObjectName(QStringLiteral("bench-node"));
    moveToThread(thread);
    thread->start();
    bool ok = false;
    QMetaObject::invokeMethod(
        this, [this, port, &ok] { ok = listenOnThread(port); }, Qt::BlockingQueuedConnection);
    return ok;
}

bool BenchNode::listenOnThread(quint16 port)
{
    server = new QTcpServer;
    connect(server, &QTcpServer::newConnection, this, &BenchNode::onNewConnection);
    if (!server->listen(QHostAddress::LocalHost, port))
        return false;
    listenPort = server->serverPort();
    return true;
}

void BenchNode::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pumpStream(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void BenchNode::onReadyRead(QTcpSocket* socket)
{
    auto it = connections.find(socket);
    if (it == connections.end())
        return;
    it->input += socket->readAll();
    // One request at a time per connection, in order (HTTP/1.1 keep-alive).
    while (!it->streaming) {
        const qsizetype headerEnd = it->input.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = it->input.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            if (line.toLower().startsWith("content-length:"))
                contentLength = line.mid(15).trimmed().toLongLong();
        }
        const qsizetype total = headerEnd + 4 + contentLength;
        if (it->input.size() < total)
            return;
        it->input.remove(0, total);
        answer(socket, requestLine.value(0), requestLine.value(1));
        it = connections.find(socket);
        if (it == connections.end())
            return;
    }
}

void BenchNode::answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target)
{
    if (method != "POST") {
        sendWhole(socket, 405, "405 - Method Not Allowed");
        return;
    }
    const QUrl url(QString::fromLatin1(target));
    const QString command = url.path().mid(int(qstrlen("/api/v0")));
    const QUrlQuery query(url);
    const QString arg = query.queryItemValue(QStringLiteral("arg"), QUrl::FullyDecoded);

    if (const auto fixed = fixedAnswers.constFind(command); fixed != fixedAnswers.cend()) {
        sendWhole(socket, 200, *fixed);
        return;
    }
    if (command == u"/pin/ls") {
        const QString type = query.queryItemValue(QStringLiteral("type"));
        if (type == u"recursive")
            startStream(socket, { fixture.recursiveBody });
        else if (type == u"direct")
            startStream(socket, { fixture.directBody });
        else if (type == u"indirect")
            startStream(socket, {});
        else
            startStream(socket, { fixture.recursiveBody, fixture.directBody });
        return;
    }
    if (command == u"/refs/local") {
        startStream(socket, { refsLocalBody() });
        return;
    }
    if (command == u"/id") {
        sendWhole(socket, 200,
            jsonBody(
                { { QStringLiteral("ID"), QStringLiteral("12D3KooWBenchNodeVaxe1PerfFixture9QmYpKcDxZr") },
                    { QStringLiteral("AgentVersion"), QStringLiteral("kubo/0.32.1/vaxel-bench") } }));
        return;
    }
    if (command == u"/version") {
        sendWhole(socket, 200, jsonBody({ { QStringLiteral("Version"), QStringLiteral("0.32.1") } }));
        return;
    }
    if (command == u"/refs") {
        const QByteArray line = "{\"Ref\":\"" + arg.toLatin1() + "\",\"Err\":\"\"}\n";
        sendWhole(socket, 200, line.repeated(fixtureRefsCount(arg)));
        return;
    }
    if (command == u"/dag/stat") {
        const qint64 size = fixtureDagSize(arg);
        sendWhole(socket, 200,
            jsonBody({ { QStringLiteral("UniqueBlocks"), 1 }, { QStringLiteral("TotalSize"), double(size) },
                { QStringLiteral("SharedSize"), 0 }, { QStringLiteral("Ratio"), 1 } }));
        return;
    }
    if (command == u"/files/stat") {
        const QString cid = arg.mid(int(qstrlen("/ipfs/")));
        const bool directory = fixtureIsDirectory(cid);
        sendWhole(socket, 200,
            jsonBody({ { QStringLiteral("Hash"), cid }, { QStringLiteral("Size"), directory ? 0 : 1024 },
                { QStringLiteral("CumulativeSize"), double(fixtureDagSize(cid)) },
                { QStringLiteral("Blocks"), 1 },
                { QStringLiteral("Type"),
                    directory ? QStringLiteral("directory") : QStringLiteral("file") } }));
        return;
    }
    sendWhole(socket, 404, "404 page not found");
}

void BenchNode::sendWhole(QTcpSocket* socket, int status, const QByteArray& body)
{
    QByteArray response = statusLine(status);
    response += "Content-Type: application/json\r\nContent-Length: ";
    response += QByteArray::number(body.size());
    response += "\r\n\r\n";
    response += body;
    socket->write(response);
}

void BenchNode::startStream(QTcpSocket* socket, const QList<QByteArray>& parts)
{
    auto it = connections.find(socket);
    if (it == connections.end())
        return;
    socket->write(statusLine(200)
        + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\nX-Chunked-Output: 1\r\n\r\n");
    it->bodyParts = parts;
    it->offset = 0;
    it->streaming = true;
    pumpStream(socket);
}

void BenchNode::pumpStream(QTcpSocket* socket)
{
    auto it = connections.find(socket);
    if (it == connections.end() || !it->streaming)
        return;
    while (socket->bytesToWrite() < kMaxBufferedBytes) {
        if (it->bodyParts.isEmpty()) {
            socket->write("0\r\n\r\n");
            it->streaming = false;
            // A request that arrived meanwhile on this connection is answered now.
            if (!it->input.isEmpty())
                QMetaObject::invokeMethod(
                    this, [this, socket] { onReadyRead(socket); }, Qt::QueuedConnection);
            return;
        }
        const QByteArray& part = it->bodyParts.constFirst();
        const qsizetype length = qMin(kStreamChunkBytes, part.size() - it->offset);
        if (length <= 0) {
            it->bodyParts.removeFirst();
            it->offset = 0;
            continue;
        }
        socket->write(QByteArray::number(qulonglong(length), 16) + "\r\n");
        socket->write(part.constData() + it->offset, length);
        socket->write("\r\n");
        it->offset += length;
    }
}

QByteArray BenchNode::refsLocalBody()
{
    if (!refsLocal.isEmpty())
        return refsLocal;
    // Every pinned block, and one unpinned block for every ten pins. A node lists every block as a
    // raw CIDv1, whatever the codec of the pin that holds it.
    const int pins = fixture.recursiveCount + fixture.directCount;
    for (int index = 0; index < pins + pins / 10; ++index)
        refsLocal += "{\"Ref\":\"" + fixtureCid(index, false).toLatin1() + "\",\"Err\":\"\"}\n";
    return refsLocal;
}
