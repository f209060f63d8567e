#include "fakekubonode.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {

const QByteArray kApiPrefix = QByteArrayLiteral("/api/v0");

QByteArray findHeader(const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& name)
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

QList<FakeKuboNode::MultipartPart> parseMultipart(const QByteArray& contentType, const QByteArray& body)
{
    QList<FakeKuboNode::MultipartPart> parts;
    const int at = contentType.indexOf("boundary=");
    if (at < 0)
        return parts;
    QByteArray boundary = contentType.mid(at + 9);
    const int semicolon = boundary.indexOf(';');
    if (semicolon >= 0)
        boundary.truncate(semicolon);
    boundary = boundary.trimmed();
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() >= 2)
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "--" + boundary;

    qsizetype pos = body.indexOf(delimiter);
    while (pos >= 0) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            break;
        if (body.mid(pos, 2) == "\r\n")
            pos += 2;
        const qsizetype next = body.indexOf("\r\n" + delimiter, pos);
        if (next < 0)
            break;
        const QByteArray raw = body.mid(pos, next - pos);
        const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
        FakeKuboNode::MultipartPart part;
        const QByteArray headerBlock = headerEnd >= 0 ? raw.left(headerEnd) : QByteArray();
        part.body = headerEnd >= 0 ? raw.mid(headerEnd + 4) : raw;
        for (const QByteArray& line : headerBlock.split('\n')) {
            const QByteArray trimmed = line.trimmed();
            const int colon = trimmed.indexOf(':');
            if (colon > 0)
                part.headers.append({ trimmed.left(colon).trimmed(), trimmed.mid(colon + 1).trimmed() });
        }
        parts.append(part);
        pos = next + 2;
    }
    return parts;
}

} // namespace

QByteArray FakeKuboNode::MultipartPart::header(const QByteArray& name) const
{
    return findHeader(headers, name);
}

QByteArray FakeKuboNode::Request::header(const QByteArray& name) const
{
    return findHeader(headers, name);
}

bool FakeKuboNode::Request::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString FakeKuboNode::Request::queryValue(const QString& name) const
{
    for (const auto& item : query) {
        if (item.first == name)
            return item.second;
    }
    return {};
}

QStringList FakeKuboNode::Request::queryValues(const QString& name) const
{
    QStringList values;
    for (const auto& item : query) {
        if (item.first == name)
            values.append(item.second);
    }
    return values;
}

QStringList FakeKuboNode::Request::queryKeys() const
{
    QStringList keys;
    for (const auto& item : query)
        keys.append(item.first);
    return keys;
}

FakeKuboNode::Response& FakeKuboNode::Response::header(const QByteArray& name, const QByteArray& value)
{
    headers.append({ name, value });
    return *this;
}

FakeKuboNode::FakeKuboNode(QObject* parent)
    : QObject(parent)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &FakeKuboNode::onNewConnection);
}

FakeKuboNode::~FakeKuboNode() = default;

bool FakeKuboNode::start(quint16 port)
{
    return server->listen(QHostAddress::LocalHost, port);
}

quint16 FakeKuboNode::port() const
{
    return server->serverPort();
}

void FakeKuboNode::route(const QString& command, const Response& response)
{
    routes.insert(command, [response](const Request&) { return response; });
}

void FakeKuboNode::route(const QString& command, Handler handler)
{
    routes.insert(command, std::move(handler));
}

void FakeKuboNode::clearRoutes()
{
    routes.clear();
}

void FakeKuboNode::setBrowserGuard(bool on)
{
    browserGuard = on;
}

void FakeKuboNode::setAllowedOrigins(const QStringList& origins)
{
    allowedOrigins = origins;
    customOrigins = true;
}

QList<FakeKuboNode::Request> FakeKuboNode::requests(const QString& command) const
{
    QList<Request> matching;
    const QString path = QString::fromLatin1(kApiPrefix) + command;
    for (const Request& request : recorded) {
        if (request.path == path || request.path == command)
            matching.append(request);
    }
    return matching;
}

int FakeKuboNode::requestCount(const QString& command) const
{
    return int(requests(command).size());
}

int FakeKuboNode::heldCount(const QString& command) const
{
    return int(heldRequests(command).size());
}

QList<FakeKuboNode::Request> FakeKuboNode::heldRequests(const QString& command) const
{
    QList<Request> matching;
    for (const Held& entry : held_) {
        if (entry.socket && (command.isEmpty() || entry.command == command))
            matching.append(entry.request);
    }
    return matching;
}

void FakeKuboNode::releaseHeld(const QString& command, const Response& response, int count)
{
    QList<Held> remaining;
    QList<Held> toAnswer;
    for (const Held& entry : std::as_const(held_)) {
        if (!entry.socket)
            continue;
        if ((command.isEmpty() || entry.command == command) && (count < 0 || toAnswer.size() < count))
            toAnswer.append(entry);
        else
            remaining.append(entry);
    }
    held_ = remaining;
    for (const Held& entry : std::as_const(toAnswer)) {
        send(entry.socket, response);
        // A released connection may carry the client's next request already.
        QTimer::singleShot(0, entry.socket, [this, socket = entry.socket] {
            if (socket)
                onReadyRead(socket);
        });
    }
}

FakeKuboNode::Response FakeKuboNode::json(const QByteArray& body, int status)
{
    Response response;
    response.status = status;
    response.header("Content-Type", "application/json");
    response.chunks.append({ body, 0 });
    return response;
}

FakeKuboNode::Response FakeKuboNode::text(const QByteArray& body, int status)
{
    Response response;
    response.status = status;
    response.header("Content-Type", "text/plain; charset=utf-8");
    response.chunks.append({ body, 0 });
    return response;
}

FakeKuboNode::Response FakeKuboNode::kuboError(const QString& message, int code, int status)
{
    const QByteArray body = QByteArrayLiteral("{\"Message\":\"") + message.toUtf8().replace('"', "\\\"")
        + QByteArrayLiteral("\",\"Code\":") + QByteArray::number(code) + QByteArrayLiteral(",\"Type\":\"error\"}\n");
    // Kubo frames its errors as it frames its streams.
    Response response = json(body, status);
    response.header("Trailer", "X-Stream-Error");
    response.chunkedEncoding = true;
    return response;
}

FakeKuboNode::Response FakeKuboNode::streamed(const QList<QByteArray>& pieces, int delayMs)
{
    Response response;
    response.header("Content-Type", "application/json");
    response.header("Trailer", "X-Stream-Error");
    response.header("X-Chunked-Output", "1");
    response.chunkedEncoding = true;
    for (const QByteArray& piece : pieces)
        response.chunks.append({ piece, delayMs });
    return response;
}

FakeKuboNode::Response FakeKuboNode::streamFailure(const QList<QByteArray>& pieces, const QByteArray& error)
{
    Response response = streamed(pieces);
    response.streamError = error;
    return response;
}

FakeKuboNode::Response FakeKuboNode::never()
{
    Response response;
    response.neverAnswer = true;
    return response;
}

FakeKuboNode::Response FakeKuboNode::held()
{
    Response response;
    response.hold = true;
    return response;
}

void FakeKuboNode::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        socket->setParent(this);
        buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeKuboNode::onReadyRead(QTcpSocket* socket)
{
    if (!buffers.contains(socket))
        return;
    QByteArray& buffer = buffers[socket];
    buffer.append(socket->readAll());
    if (requestByteLimit >= 0 && buffer.size() > requestByteLimit) {
        socket->abort();
        return;
    }

    // A connection that is parked (never/held) takes no further request until it is answered.
    for (const Held& entry : std::as_const(held_)) {
        if (entry.socket == socket)
            return;
    }
    if (socket->property("fakeParked").toBool())
        return;

    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if ((headerEnd < 0 && buffer.size() > kMaxHeadBytes) || headerEnd + 4 > kMaxHeadBytes) {
        Response refused = text("431 Request Header Fields Too Large", 431);
        refused.header("Connection", "close");
        refused.cutAfterBytes = int(refused.chunks.first().data.size()); // then closes, as Go does
        buffers.remove(socket);
        send(socket, refused);
        return;
    }
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    if (lines.isEmpty())
        return;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() < 2)
        return;

    Request request;
    request.method = requestLine.at(0);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }

    qsizetype bodyStart = headerEnd + 4;
    qsizetype consumed = 0;
    if (request.header("Transfer-Encoding").toLower().contains("chunked")) {
        qsizetype pos = bodyStart;
        bool complete = false;
        while (true) {
            const qsizetype lineEnd = buffer.indexOf("\r\n", pos);
            if (lineEnd < 0)
                break;
            bool ok = false;
            const qsizetype size = buffer.mid(pos, lineEnd - pos).trimmed().toLongLong(&ok, 16);
            if (!ok)
                break;
            if (size == 0) {
                const qsizetype trailerEnd = buffer.indexOf("\r\n", lineEnd + 2);
                if (trailerEnd < 0)
                    break;
                consumed = trailerEnd + 2;
                complete = true;
                break;
            }
            if (buffer.size() < lineEnd + 2 + size + 2)
                break;
            request.body.append(buffer.mid(lineEnd + 2, size));
            pos = lineEnd + 2 + size + 2;
        }
        if (!complete)
            return;
    } else {
        const qsizetype length = request.header("Content-Length").toLongLong();
        if (buffer.size() - bodyStart < length)
            return;
        request.body = buffer.mid(bodyStart, length);
        consumed = bodyStart + length;
    }
    buffer.remove(0, consumed);

    const QByteArray target = requestLine.at(1);
    const int questionMark = target.indexOf('?');
    request.path = QUrl::fromPercentEncoding(questionMark >= 0 ? target.left(questionMark) : target);
    if (questionMark >= 0) {
        request.rawQuery = QString::fromLatin1(target.mid(questionMark + 1));
        const QUrlQuery query(request.rawQuery);
        for (const auto& item : query.queryItems(QUrl::FullyDecoded))
            request.query.append(item);
    }
    const QByteArray contentType = request.header("Content-Type");
    if (contentType.startsWith("multipart/"))
        request.parts = parseMultipart(contentType, request.body);

    dispatch(socket, request);

    if (!buffer.isEmpty())
        QTimer::singleShot(0, socket, [this, socket] { onReadyRead(socket); });
}

void FakeKuboNode::dispatch(QTcpSocket* socket, const Request& request)
{
    recorded.append(request);
    QString command = request.path;
    if (command.startsWith(QString::fromLatin1(kApiPrefix)))
        command = command.mid(kApiPrefix.size());
    emit requestReceived(command);

    Response response = answerFor(request);
    addKuboHeaders(command, &response);
    if (response.neverAnswer) {
        socket->setProperty("fakeParked", true);
        return;
    }
    if (response.hold) {
        held_.append({ socket, request, command });
        return;
    }
    send(socket, response);
}

FakeKuboNode::Response FakeKuboNode::answerFor(const Request& request)
{
    const bool isApi = request.path.startsWith(QString::fromLatin1(kApiPrefix));
    QString command = request.path;
    if (isApi)
        command = command.mid(kApiPrefix.size());

    if (isApi) {
        if (request.method != "POST")
            return text("405 - Method Not Allowed", 405);
        const QByteArray origin = request.header("Origin");
        const QByteArray referer = request.header("Referer");
        if (browserGuard && origin.isEmpty() && referer.isEmpty()
            && request.header("User-Agent").startsWith("Mozilla"))
            return text("403 - Forbidden", 403);
        if (!origin.isEmpty() || !referer.isEmpty()) {
            QStringList allowed = allowedOrigins;
            if (!customOrigins) {
                const QString p = QString::number(port());
                for (const QString& scheme : { QStringLiteral("http"), QStringLiteral("https") }) {
                    allowed << scheme + QStringLiteral("://127.0.0.1:") + p
                            << scheme + QStringLiteral("://localhost:") + p
                            << scheme + QStringLiteral("://[::1]:") + p;
                }
            }
            auto permitted = [&allowed](const QByteArray& value) {
                if (allowed.contains(QStringLiteral("*")))
                    return true;
                const QUrl url(QString::fromUtf8(value));
                const QString originOf = url.isValid() && !url.host().isEmpty()
                    ? url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString()
                    : QString::fromUtf8(value);
                return allowed.contains(QString::fromUtf8(value)) || allowed.contains(originOf);
            };
            if ((!origin.isEmpty() && !permitted(origin)) || (!referer.isEmpty() && !permitted(referer)))
                return text("403 - Forbidden", 403);
        }
    }

    const auto it = routes.constFind(command);
    if (it == routes.constEnd())
        return text("404 page not found", 404);
    return (*it)(request);
}

void FakeKuboNode::addKuboHeaders(const QString& command, Response* response)
{
    // "/cat" announces the file's size, so a reply cut short can be told from a whole one.
    if (command == QLatin1String("/cat") && response->status == 200
        && findHeader(response->headers, "X-Content-Length").isEmpty()) {
        qsizetype size = 0;
        for (const Chunk& chunk : std::as_const(response->chunks))
            size += chunk.data.size();
        response->header("X-Content-Length", QByteArray::number(size));
    }
    if (!response->streamError.isEmpty() && findHeader(response->headers, "Trailer").isEmpty())
        response->header("Trailer", "X-Stream-Error");
}

void FakeKuboNode::send(QTcpSocket* socket, const Response& response)
{
    if (!socket)
        return;
    QByteArray body;
    bool delayed = false;
    for (const Chunk& chunk : response.chunks) {
        body.append(chunk.data);
        delayed = delayed || chunk.delayMs > 0;
    }
    const bool chunked = response.chunkedEncoding || delayed || response.chunks.size() > 1
        || !response.streamError.isEmpty();

    const QByteArray reason = response.reason.isEmpty() ? reasonPhrase(response.status) : response.reason;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason + "\r\n";
    bool hasContentType = false;
    for (const auto& header : response.headers) {
        head += header.first + ": " + header.second + "\r\n";
        hasContentType = hasContentType || header.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    if (!hasContentType)
        head += "Content-Type: text/plain\r\n";
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (findHeader(response.headers, "Connection").isEmpty())
        head += "Connection: keep-alive\r\n";
    head += "\r\n";

    const int cutAfter = response.cutAfterBytes;
    if (!chunked) {
        socket->write(head);
        if (cutAfter >= 0) {
            socket->write(body.left(cutAfter));
            socket->flush();
            socket->disconnectFromHost();
        } else {
            socket->write(body);
        }
        return;
    }

    // Chunked: each piece after its delay; pieces are sent in order.
    socket->write(head);
    QPointer<QTcpSocket> guard(socket);
    int elapsed = 0;
    qint64 sent = 0;
    bool cut = false;
    for (int i = 0; i < response.chunks.size() && !cut; ++i) {
        Chunk chunk = response.chunks.at(i);
        if (cutAfter >= 0 && sent + chunk.data.size() >= cutAfter) {
            chunk.data.truncate(int(cutAfter - sent));
            cut = true;
        }
        sent += chunk.data.size();
        elapsed += chunk.delayMs;
        const QByteArray framed = chunk.data.isEmpty()
            ? QByteArray()
            : QByteArray::number(chunk.data.size(), 16) + "\r\n" + chunk.data + "\r\n";
        auto writePiece = [guard, framed, cut] {
            if (!guard)
                return;
            guard->write(framed);
            if (cut) {
                guard->flush();
                guard->disconnectFromHost();
            }
        };
        if (elapsed == 0)
            writePiece();
        else
            QTimer::singleShot(elapsed, socket, writePiece);
    }
    if (!cut) {
        const QByteArray trailer = response.streamError.isEmpty()
            ? QByteArray()
            : "X-Stream-Error: " + QByteArray(response.streamError).replace('\n', ' ') + "\r\n";
        auto finish = [guard, trailer] {
            if (guard)
                guard->write("0\r\n" + trailer + "\r\n");
        };
        if (elapsed == 0)
            finish();
        else
            QTimer::singleShot(elapsed, socket, finish);
    }
}
