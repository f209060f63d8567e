#include "pinningservice.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QStringList kStatuses { u"queued"_s, u"pinning"_s, u"pinned"_s, u"failed"_s };

// A peer that a service names as the receiver of the data; nothing listens there.
const QString kDelegate = u"/ip4/127.0.0.1/tcp/9/p2p/12D3KooWQzBowrP82xstYRQyLgwJ8JgDSenWUxRqTN4ZWvEEJFuF"_s;

QString decodeQueryPart(QByteArray part)
{
    part.replace('+', ' ');
    return QUrl::fromPercentEncoding(part);
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 202: return "Accepted";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    default: return "Error";
    }
}

// The values of a list parameter: "a,b" and repeated items alike.
QStringList listValues(const PinningService::Request& request, const QString& name)
{
    QStringList values;
    for (const auto& [key, value] : request.query) {
        if (key == name)
            values += value.split(u',', Qt::SkipEmptyParts);
    }
    return values;
}

bool nameMatches(const QString& name, const QString& wanted, const QString& match)
{
    if (match == u"iexact")
        return name.compare(wanted, Qt::CaseInsensitive) == 0;
    if (match == u"partial")
        return name.contains(wanted);
    if (match == u"ipartial")
        return name.contains(wanted, Qt::CaseInsensitive);
    return name == wanted;
}

} // namespace

QByteArray PinningService::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString PinningService::Request::queryValue(const QString& name) const
{
    for (const auto& [key, value] : query) {
        if (key == name)
            return value;
    }
    return {};
}

QString PinningService::Pin::status() const
{
    if (statuses.isEmpty())
        return u"pinned"_s;
    qsizetype step = statuses.size() - 1;
    if (stepMs > 0)
        step = qMin(step, qsizetype(created.msecsTo(QDateTime::currentDateTimeUtc()) / stepMs));
    return statuses.at(step);
}

PinningService::PinningService(QObject* parent)
    : QObject(parent)
    , server(new QTcpServer(this))
    , token(u"vaxel-test-token-"_s + QString::number(QRandomGenerator::global()->generate64(), 16))
{
    connect(server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

PinningService::~PinningService() = default;

bool PinningService::start()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

quint16 PinningService::port() const
{
    return server->serverPort();
}

QString PinningService::endpoint() const
{
    return u"http://127.0.0.1:%1"_s.arg(port());
}

void PinningService::setCourse(const QStringList& statuses, int stepMs)
{
    course = statuses;
    courseStepMs = stepMs;
}

void PinningService::setCourseFor(const QString& cid, const QStringList& statuses, int stepMs)
{
    coursesByCid.insert(cid, { statuses, stepMs });
}

QString PinningService::seed(const QString& cid, const QString& status, const QString& name)
{
    QJsonObject pin { { u"cid"_s, cid } };
    if (!name.isEmpty())
        pin.insert(u"name"_s, name);
    create(pin);
    held.last().statuses = { status };
    held.last().stepMs = 0;
    return held.last().requestId;
}

QList<PinningService::Pin> PinningService::pinsOf(const QString& cid) const
{
    QList<Pin> found;
    std::copy_if(held.cbegin(), held.cend(), std::back_inserter(found), [&cid](const Pin& pin) { return pin.cid == cid; });
    return found;
}

QList<PinningService::Request> PinningService::requests(const QByteArray& method, const QString& path) const
{
    QList<Request> found;
    std::copy_if(recorded.cbegin(), recorded.cend(), std::back_inserter(found),
        [&](const Request& request) { return request.method == method && request.path == path; });
    return found;
}

void PinningService::onReadyRead(QTcpSocket* socket)
{
    QByteArray& buffer = buffers[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.indexOf('?');
    request.path = QUrl::fromPercentEncoding(target.left(question < 0 ? target.size() : question));
    if (question >= 0) {
        for (const QByteArray& item : target.mid(question + 1).split('&')) {
            if (item.isEmpty())
                continue;
            const qsizetype equals = item.indexOf('=');
            request.query.append({ decodeQueryPart(item.left(equals < 0 ? item.size() : equals)),
                equals < 0 ? QString() : decodeQueryPart(item.mid(equals + 1)) });
        }
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    const qsizetype length = request.header("Content-Length").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();

    recorded.append(request);
    emit requestReceived(request.method, request.path);
    const Answer reply = answer(request);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status)
        + "\r\nContent-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n";
    if (!reply.body.isEmpty())
        response += "Content-Type: application/json\r\n";
    socket->write(response + "\r\n" + reply.body);
    socket->disconnectFromHost();
}

PinningService::Answer PinningService::answer(const Request& request)
{
    if (request.header("Authorization") != "Bearer " + token.toUtf8())
        return failure(401, "UNAUTHORIZED", u"Access token is missing or invalid"_s);

    if (request.path == u"/pins") {
        if (request.method == "GET")
            return list(request);
        if (request.method == "POST")
            return create(QJsonDocument::fromJson(request.body).object());
        return failure(400, "BAD_REQUEST", u"Unsupported method"_s);
    }
    if (!request.path.startsWith(u"/pins/"))
        return failure(404, "NOT_FOUND", u"The specified resource was not found"_s);

    const QString requestId = request.path.mid(6);
    const auto found = std::find_if(
        held.begin(), held.end(), [&requestId](const Pin& pin) { return pin.requestId == requestId; });
    if (found == held.end())
        return failure(404, "NOT_FOUND", u"The specified resource was not found"_s);
    if (request.method == "GET")
        return { 200, QJsonDocument(statusObject(*found)).toJson(QJsonDocument::Compact) };
    if (request.method == "DELETE") {
        held.erase(found);
        return { 202, QByteArray() };
    }
    if (request.method == "POST") {
        held.erase(found);
        return create(QJsonDocument::fromJson(request.body).object());
    }
    return failure(400, "BAD_REQUEST", u"Unsupported method"_s);
}

PinningService::Answer PinningService::list(const Request& request)
{
    const QStringList cidList = listValues(request, u"cid"_s);
    if (cidList.size() > 10)
        return failure(400, "BAD_REQUEST", u"At most 10 CIDs per request"_s);
    const QSet<QString> cids(cidList.cbegin(), cidList.cend());
    QStringList statusList = listValues(request, u"status"_s);
    if (statusList.isEmpty())
        statusList = { u"pinned"_s }; // no status filter: successful pins only
    for (const QString& status : std::as_const(statusList)) {
        if (!kStatuses.contains(status))
            return failure(400, "BAD_REQUEST", u"Invalid status: %1"_s.arg(status));
    }
    int limit = 10;
    if (!request.queryValue(u"limit"_s).isEmpty()) {
        bool ok = false;
        limit = request.queryValue(u"limit"_s).toInt(&ok);
        if (!ok || limit < 1 || limit > 1000)
            return failure(400, "BAD_REQUEST", u"limit must be between 1 and 1000"_s);
    }
    const auto timeFilter = [&request](const QString& name) {
        return QDateTime::fromString(request.queryValue(name), Qt::ISODateWithMs);
    };
    const QDateTime before = timeFilter(u"before"_s);
    const QDateTime after = timeFilter(u"after"_s);
    const QString name = request.queryValue(u"name"_s);
    const QString match = request.queryValue(u"match"_s);
    const QJsonObject meta = QJsonDocument::fromJson(request.queryValue(u"meta"_s).toUtf8()).object();

    QList<const Pin*> matching;
    for (const Pin& pin : std::as_const(held)) {
        if (!cids.isEmpty() && !cids.contains(pin.cid))
            continue;
        if (!statusList.contains(pin.status()))
            continue;
        if (!name.isEmpty() && !nameMatches(pin.name, name, match))
            continue;
        if ((before.isValid() && pin.created >= before) || (after.isValid() && pin.created <= after))
            continue;
        bool metaMatches = true;
        for (auto it = meta.begin(); it != meta.end(); ++it)
            metaMatches = metaMatches && pin.meta.value(it.key()) == it.value();
        if (metaMatches)
            matching.append(&pin);
    }
    std::sort(matching.begin(), matching.end(), [](const Pin* a, const Pin* b) { return a->created > b->created; });
    QJsonArray results;
    for (qsizetype i = 0; i < qMin<qsizetype>(limit, matching.size()); ++i)
        results.append(statusObject(*matching.at(i)));
    const QJsonObject body { { u"count"_s, int(matching.size()) }, { u"results"_s, results } };
    return { 200, QJsonDocument(body).toJson(QJsonDocument::Compact) };
}

PinningService::Answer PinningService::create(const QJsonObject& object)
{
    const QString cid = object.value(u"cid"_s).toString();
    if (cid.isEmpty())
        return failure(400, "BAD_REQUEST", u"A pin needs a cid"_s);
    Pin pin;
    pin.requestId = newRequestId();
    pin.cid = cid;
    pin.name = object.value(u"name"_s).toString();
    for (const QJsonValue& origin : object.value(u"origins"_s).toArray())
        pin.origins.append(origin.toString());
    pin.meta = object.value(u"meta"_s).toObject();
    // Listings page by creation time, so no two requests share one.
    QDateTime now = QDateTime::currentDateTimeUtc();
    if (lastCreated.isValid() && now <= lastCreated)
        now = lastCreated.addMSecs(1);
    pin.created = lastCreated = now;
    const auto own = coursesByCid.constFind(cid);
    pin.statuses = own != coursesByCid.cend() ? own->statuses : course;
    pin.stepMs = own != coursesByCid.cend() ? own->stepMs : courseStepMs;
    held.append(pin);
    return { 202, QJsonDocument(statusObject(pin)).toJson(QJsonDocument::Compact) };
}

PinningService::Answer PinningService::failure(int status, const QByteArray& reason, const QString& details)
{
    const QJsonObject error { { u"reason"_s, QString::fromLatin1(reason) }, { u"details"_s, details } };
    return { status, QJsonDocument(QJsonObject { { u"error"_s, error } }).toJson(QJsonDocument::Compact) };
}

QString PinningService::newRequestId()
{
    return u"request-%1-%2"_s.arg(++nextId).arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

QJsonObject PinningService::statusObject(const Pin& pin) const
{
    QJsonObject object { { u"cid"_s, pin.cid } };
    if (!pin.name.isEmpty())
        object.insert(u"name"_s, pin.name);
    if (!pin.origins.isEmpty())
        object.insert(u"origins"_s, QJsonArray::fromStringList(pin.origins));
    if (!pin.meta.isEmpty())
        object.insert(u"meta"_s, pin.meta);
    return { { u"requestid"_s, pin.requestId }, { u"status"_s, pin.status() },
        { u"created"_s, pin.created.toString(Qt::ISODateWithMs) }, { u"pin"_s, object },
        { u"delegates"_s, QJsonArray { kDelegate } }, { u"info"_s, QJsonObject() } };
}
