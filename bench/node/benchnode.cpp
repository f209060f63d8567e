#include "benchnode.h"

#include "busynetwork.h"
#include "monotonicclock.h"
#include "networkfixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {

// A node flushes its stream in pieces; the client sees many reads, as with a real one.
constexpr qsizetype kStreamChunkBytes = 32 * 1024;
// Bytes allowed to wait in the socket before the next piece is written.
constexpr qint64 kMaxBufferedBytes = 2 * 1024 * 1024;
// A client that opens a connection per request may open hundreds at once.
constexpr int kListenBacklog = 1024;

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

QByteArray jsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray errorBody(const QString& message)
{
    return jsonLine({ { QStringLiteral("Message"), message }, { QStringLiteral("Code"), 0 },
        { QStringLiteral("Type"), QStringLiteral("error") } });
}

// Skips a chunked request body; returns the bytes it took, or -1 while it is incomplete.
qsizetype chunkedBodyLength(const QByteArray& input, qsizetype from)
{
    qsizetype at = from;
    for (;;) {
        const qsizetype lineEnd = input.indexOf("\r\n", at);
        if (lineEnd < 0)
            return -1;
        bool ok = false;
        const qsizetype size = input.mid(at, lineEnd - at).split(';').value(0).trimmed().toLongLong(&ok, 16);
        if (!ok)
            return input.size() - from; // not chunked after all: take what came
        at = lineEnd + 2;
        if (size == 0) {
            // Trailers, if any, end with an empty line.
            const qsizetype end = input.indexOf("\r\n", at);
            if (end < 0)
                return -1;
            if (end == at)
                return end + 2 - from;
            const qsizetype trailersEnd = input.indexOf("\r\n\r\n", at);
            return trailersEnd < 0 ? -1 : trailersEnd + 4 - from;
        }
        if (input.size() < at + size + 2)
            return -1;
        at += size + 2;
    }
}

} // namespace

BenchNode::BenchNode(const NodeScenario& nodeScenario, QObject* parent)
    : QObject(parent)
    , scenario(nodeScenario)
    , fixture(PinFixture::generate(nodeScenario.pins, nodeScenario.indirectPins))
{
    if (scenario.busyNetwork) {
        using namespace NetworkFixtures;
        using namespace BusyNetwork;
        fixedAnswers.insert(QStringLiteral("/stats/dht"), dhtLinesBody(kDhts, kBuckets, kPeersPerBucket));
        fixedAnswers.insert(QStringLiteral("/swarm/peers"), toJson(swarmPeersReply(kSwarmPeers)));
        fixedAnswers.insert(
            QStringLiteral("/swarm/addrs"), toJson(swarmAddrsReply(kSwarmPeers, kAddrsPerPeer)));
        fixedAnswers.insert(QStringLiteral("/swarm/addrs/listen"),
            toJson(stringsReply({ QStringLiteral("/ip4/0.0.0.0/tcp/4001"), QStringLiteral("/ip6/::/tcp/4001"),
                QStringLiteral("/ip4/0.0.0.0/udp/4001/quic-v1"),
                QStringLiteral("/ip6/::/udp/4001/quic-v1") })));
        QStringList bootstrap;
        for (int i = 0; i < 8; ++i)
            bootstrap.append(QStringLiteral("/dnsaddr/bootstrap.libp2p.io/p2p/QmBootstrap%1").arg(i));
        fixedAnswers.insert(QStringLiteral("/bootstrap/list"), toJson(bootstrapReply(bootstrap)));
        fixedAnswers.insert(QStringLiteral("/bitswap/stat"), toJson(bitswapReply(kSwarmPeers, kWantlist)));
    }
}

BenchNode::~BenchNode()
{
    for (auto it = connections.cbegin(); it != connections.cend(); ++it)
        it.key()->abort();
}

bool BenchNode::start(quint16 port)
{
    server = new QTcpServer(this);
    server->setListenBacklogSize(kListenBacklog);
    server->setMaxPendingConnections(kListenBacklog);
    connect(server, &QTcpServer::newConnection, this, &BenchNode::onNewConnection);
    if (!server->listen(QHostAddress::LocalHost, port))
        return false;
    listenPort = server->serverPort();
    return true;
}

QJsonObject BenchNode::banner() const
{
    return { { QStringLiteral("port"), int(listenPort) }, { QStringLiteral("pins"), fixture.pinCount() },
        { QStringLiteral("recursive"), fixture.recursiveCount },
        { QStringLiteral("direct"), fixture.directCount },
        { QStringLiteral("indirect"), fixture.indirectCount },
        { QStringLiteral("bodyBytes"), double(fixture.recursiveBody.size() + fixture.directBody.size()) } };
}

void BenchNode::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pumpStream(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            const auto it = connections.constFind(socket);
            if (it != connections.cend() && it->busy)
                --counts[it->command].inFlight;
            connections.remove(socket);
            socket->deleteLater();
        });
    }
}

bool BenchNode::takeRequest(Connection& connection, QByteArray* method, QByteArray* target)
{
    const qsizetype headerEnd = connection.input.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = connection.input.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    qsizetype bodyLength = 0;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed().toLower();
        if (line.startsWith("content-length:"))
            bodyLength = line.mid(15).trimmed().toLongLong();
        else if (line.startsWith("transfer-encoding:") && line.contains("chunked"))
            chunked = true;
    }
    const qsizetype bodyStart = headerEnd + 4;
    if (chunked) {
        bodyLength = chunkedBodyLength(connection.input, bodyStart);
        if (bodyLength < 0)
            return false;
    }
    if (connection.input.size() < bodyStart + bodyLength)
        return false;
    connection.input.remove(0, bodyStart + bodyLength);
    *method = requestLine.value(0);
    *target = requestLine.value(1);
    return true;
}

void BenchNode::onReadyRead(QTcpSocket* socket)
{
    auto it = connections.find(socket);
    if (it == connections.end())
        return;
    it->input += socket->readAll();
    // One request at a time per connection, in order (HTTP/1.1 keep-alive).
    while (!it->busy) {
        QByteArray method;
        QByteArray target;
        if (!takeRequest(*it, &method, &target))
            return;
        answer(socket, method, target);
        it = connections.find(socket);
        if (it == connections.end())
            return;
    }
}

void BenchNode::answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target)
{
    const QUrl url(QString::fromLatin1(target));
    const QString command = url.path().mid(int(qstrlen("/api/v0")));
    const QUrlQuery query(url);
    const QString arg = query.queryItemValue(QStringLiteral("arg"), QUrl::FullyDecoded);

    Connection& connection = connections[socket];
    connection.busy = true;
    connection.command = command;
    CommandCount& count = counts[command];
    const qint64 now = monotonicMs();
    ++count.count;
    count.maxInFlight = qMax(count.maxInFlight, ++count.inFlight);
    if (count.firstMs < 0)
        count.firstMs = now;
    count.lastMs = now;

    if (method != "POST") {
        sendWhole(socket, 405, "405 - Method Not Allowed");
        return;
    }
    if (command == u"/bench/stats") {
        sendWhole(socket, 200, statsBody());
        return;
    }
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
            startStream(socket, { fixture.indirectBody });
        else
            startStream(socket, { fixture.recursiveBody, fixture.directBody, fixture.indirectBody });
        return;
    }
    if (command == u"/refs/local") {
        startStream(socket, { refsLocalBody() });
        return;
    }
    if (command == u"/repo/gc") {
        startStream(socket, { gcBody() });
        return;
    }
    if (command == u"/add") {
        startStream(
            socket, { addBody(query.queryItemValue(QStringLiteral("wrap-with-directory")) == u"true") });
        return;
    }
    if (command.startsWith(u"/pin/remote/")) {
        // The node asks the remote service and answers once it has.
        const QPointer<QTcpSocket> guard(socket);
        const QString queryText = url.query(QUrl::FullyEncoded);
        QTimer::singleShot(scenario.serviceDelayMs, this, [this, guard, command, queryText] {
            if (guard && connections.contains(guard))
                answerRemote(guard, command, queryText);
        });
        return;
    }
    if (command == u"/repo/stat") {
        sendWhole(socket, 200,
            jsonLine(
                { { QStringLiteral("RepoSize"), 52428800.0 * 1024 }, { QStringLiteral("StorageMax"), 1e13 },
                    { QStringLiteral("NumObjects"), fixture.pinCount() + fixture.indirectCount },
                    { QStringLiteral("RepoPath"), QStringLiteral("/var/lib/ipfs") },
                    { QStringLiteral("Version"), QStringLiteral("fs-repo@16") } }));
        return;
    }
    if (command == u"/pin/rm") {
        QJsonArray removed;
        for (const QString& cid : query.allQueryItemValues(QStringLiteral("arg"), QUrl::FullyDecoded))
            removed.append(cid);
        sendWhole(socket, 200, jsonLine({ { QStringLiteral("Pins"), removed } }));
        return;
    }
    if (command == u"/id") {
        sendWhole(socket, 200,
            jsonLine(
                { { QStringLiteral("ID"), QStringLiteral("12D3KooWBenchNodeVaxe1PerfFixture9QmYpKcDxZr") },
                    { QStringLiteral("AgentVersion"), QStringLiteral("kubo/0.43.1/vaxel-bench") } }));
        return;
    }
    if (command == u"/version") {
        sendWhole(socket, 200, jsonLine({ { QStringLiteral("Version"), QStringLiteral("0.43.1") } }));
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
            jsonLine({ { QStringLiteral("UniqueBlocks"), 1 }, { QStringLiteral("TotalSize"), double(size) },
                { QStringLiteral("SharedSize"), 0 }, { QStringLiteral("Ratio"), 1 } }));
        return;
    }
    if (command == u"/files/stat") {
        const QString cid = arg.mid(int(qstrlen("/ipfs/")));
        const bool directory = fixtureIsDirectory(cid);
        sendWhole(socket, 200,
            jsonLine({ { QStringLiteral("Hash"), cid }, { QStringLiteral("Size"), directory ? 0 : 1024 },
                { QStringLiteral("CumulativeSize"), double(fixtureDagSize(cid)) },
                { QStringLiteral("Blocks"), 1 },
                { QStringLiteral("Type"),
                    directory ? QStringLiteral("directory") : QStringLiteral("file") } }));
        return;
    }
    sendWhole(socket, 404, "404 page not found");
}

// Remote pins are queued for a while, then pinned; listings show only the statuses asked for
// ("pinned" alone by default), and several "cid" items ask for several pins at once.
void BenchNode::answerRemote(QTcpSocket* socket, const QString& command, const QString& queryText)
{
    const QUrlQuery query(queryText);
    const qint64 now = monotonicMs();
    if (command == u"/pin/remote/service/ls") {
        QJsonObject service { { QStringLiteral("Service"), QStringLiteral("svc") },
            { QStringLiteral("ApiEndpoint"), QStringLiteral("http://127.0.0.1:9/pins") } };
        if (query.queryItemValue(QStringLiteral("stat")) == u"true")
            service.insert(QStringLiteral("Stat"),
                QJsonObject { { QStringLiteral("Status"), QStringLiteral("valid") } });
        sendWhole(socket, 200, jsonLine({ { QStringLiteral("RemoteServices"), QJsonArray { service } } }));
        return;
    }
    if (command == u"/pin/remote/add") {
        const QString cid = query.queryItemValue(QStringLiteral("arg"), QUrl::FullyDecoded);
        const QString name = query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded);
        if (!remotePins.contains(cid))
            remotePins.insert(cid, { name, now });
        sendWhole(socket, 200,
            jsonLine({ { QStringLiteral("Cid"), cid }, { QStringLiteral("Name"), name },
                { QStringLiteral("Status"), QStringLiteral("queued") } }));
        return;
    }
    if (command == u"/pin/remote/ls") {
        QStringList statuses = query.allQueryItemValues(QStringLiteral("status"), QUrl::FullyDecoded);
        if (statuses.isEmpty())
            statuses = { QStringLiteral("pinned") };
        QStringList cids = query.allQueryItemValues(QStringLiteral("cid"), QUrl::FullyDecoded);
        if (cids.isEmpty())
            cids = remotePins.keys();
        QByteArray body;
        for (const QString& cid : std::as_const(cids)) {
            const auto pin = remotePins.constFind(cid);
            if (pin == remotePins.cend())
                continue;
            const QString status = now - pin->queuedMs >= scenario.remotePinnedAfterMs
                ? QStringLiteral("pinned")
                : QStringLiteral("queued");
            if (statuses.contains(status))
                body += jsonLine({ { QStringLiteral("Cid"), cid }, { QStringLiteral("Name"), pin->name },
                    { QStringLiteral("Status"), status } });
        }
        sendWhole(socket, 200, body);
        return;
    }
    sendWhole(socket, 500, errorBody(QStringLiteral("unknown command")));
}

void BenchNode::sendWhole(QTcpSocket* socket, int status, const QByteArray& body)
{
    QByteArray response = statusLine(status);
    response += status == 404 || status == 405 ? "Content-Type: text/plain\r\n"
                                               : "Content-Type: application/json\r\n";
    response += "Content-Length: ";
    response += QByteArray::number(body.size());
    response += "\r\n\r\n";
    response += body;
    socket->write(response);
    finishRequest(socket);
}

void BenchNode::startStream(QTcpSocket* socket, const QList<QByteArray>& parts)
{
    auto it = connections.find(socket);
    if (it == connections.end())
        return;
    socket->write(statusLine(200)
        + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\nX-Chunked-Output: 1\r\n"
          "Trailer: X-Stream-Error\r\n\r\n");
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
            finishRequest(socket);
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

void BenchNode::finishRequest(QTcpSocket* socket)
{
    auto it = connections.find(socket);
    if (it == connections.end() || !it->busy)
        return;
    it->busy = false;
    it->streaming = false;
    it->bodyParts.clear();
    --counts[it->command].inFlight;
    // A request that arrived meanwhile on this connection is answered now.
    if (!it->input.isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this, guard = QPointer<QTcpSocket>(socket)] {
                if (guard)
                    onReadyRead(guard);
            },
            Qt::QueuedConnection);
}

QByteArray BenchNode::statsBody() const
{
    QJsonObject commands;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        commands.insert(it.key(),
            QJsonObject { { QStringLiteral("count"), it->count },
                { QStringLiteral("inFlight"), it->inFlight },
                { QStringLiteral("maxInFlight"), it->maxInFlight },
                { QStringLiteral("firstMs"), double(it->firstMs) },
                { QStringLiteral("lastMs"), double(it->lastMs) } });
    }
    return jsonLine(
        { { QStringLiteral("nowMs"), double(monotonicMs()) }, { QStringLiteral("commands"), commands } });
}

QByteArray BenchNode::refsLocalBody()
{
    if (!refsLocal.isEmpty())
        return refsLocal;
    const int pins = fixture.pinCount();
    const int blocks = scenario.localBlocks > 0 ? qMax(scenario.localBlocks, pins + fixture.indirectCount)
                                                : pins + pins / 10;
    refsLocal.reserve(qsizetype(blocks) * 80);
    for (int index = 0; index < blocks; ++index)
        refsLocal += "{\"Ref\":\"" + fixtureBlockCid(index) + "\",\"Err\":\"\"}\n";
    return refsLocal;
}

QByteArray BenchNode::gcBody()
{
    if (!gcLines.isEmpty() || scenario.gcCids <= 0)
        return gcLines;
    // Blocks past every block the node keeps.
    const int first = fixture.pinCount() + fixture.indirectCount + 1000000;
    gcLines.reserve(qsizetype(scenario.gcCids) * 80);
    for (int index = first; index < first + scenario.gcCids; ++index)
        gcLines += "{\"Key\":{\"/\":\"" + fixtureBlockCid(index) + "\"}}\n";
    return gcLines;
}

QByteArray BenchNode::addBody(bool wrapped) const
{
    QByteArray body;
    const int first = 50000000;
    body.reserve(qsizetype(scenario.addEntries + 1) * 110);
    for (int index = 0; index < scenario.addEntries; ++index) {
        body += "{\"Name\":\"file-" + QByteArray::number(index).rightJustified(6, '0') + ".txt\",\"Hash\":\"";
        body += fixtureBlockCid(first + index);
        body += "\",\"Size\":\"" + QByteArray::number(100 + index % 900) + "\"}\n";
    }
    if (wrapped)
        body += "{\"Name\":\"\",\"Hash\":\"" + fixtureCid(first - 1, true).toLatin1()
            + "\",\"Size\":\"4096\"}\n";
    return body;
}
