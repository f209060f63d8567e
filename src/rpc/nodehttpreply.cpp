#include "nodehttpreply.h"

#include "replyerrors.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstring>

namespace {

// How much of an upload waits in the socket at once: enough to keep the connection busy, little
// enough that a large file is never held in memory.
constexpr qint64 kUploadWindowBytes = 256 * 1024;
// An error body is a line or a small JSON object; more is not read for the message.
constexpr qint64 kErrorBodyPeekBytes = 64 * 1024;
// What the socket takes from the system per read. Unbounded, a node that outpaces a busy window
// hands over tens of megabytes in one read, copied three times before anyone looks at them; the
// rest waits in the system's buffer, and the node waits for room there.
constexpr qint64 kSocketReadBufferBytes = 1024 * 1024;

QNetworkReply::NetworkError errorForStatus(int status)
{
    switch (status) {
    case 400: return QNetworkReply::ProtocolInvalidOperationError;
    case 401: return QNetworkReply::AuthenticationRequiredError;
    case 403: return QNetworkReply::ContentAccessDenied;
    case 404: return QNetworkReply::ContentNotFoundError;
    case 405: return QNetworkReply::ContentOperationNotPermittedError;
    case 409: return QNetworkReply::ContentConflictError;
    case 410: return QNetworkReply::ContentGoneError;
    case 500: return QNetworkReply::InternalServerError;
    case 501: return QNetworkReply::OperationNotImplementedError;
    case 503: return QNetworkReply::ServiceUnavailableError;
    default: break;
    }
    return status >= 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
}

QNetworkReply::NetworkError errorForSocket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError: return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::RemoteHostClosedError: return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SocketTimeoutError: return QNetworkReply::TimeoutError;
    default: break;
    }
    return QNetworkReply::UnknownNetworkError;
}

// A host as a URL writes it: a literal IPv6 address in brackets.
QByteArray hostField(const QUrl& url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = '[' + host + ']';
    return host + ':' + QByteArray::number(url.port(80));
}

} // namespace

NodeHttpReply::NodeHttpReply(
    const QNetworkRequest& request, const QByteArray& inlineBody, QIODevice* body, QObject* parent)
    : QNetworkReply(parent)
    , socket(new QTcpSocket(this))
    , silenceTimer(new QTimer(this))
    , pendingInlineBody(inlineBody)
    , bodyDevice(body)
{
    setRequest(request);
    setUrl(request.url());
    setOperation(QNetworkAccessManager::PostOperation);
    open(QIODevice::ReadOnly);
    if (body) {
        body->setParent(this);
        const QVariant declared = request.header(QNetworkRequest::ContentLengthHeader);
        bodyLength = declared.isValid() ? declared.toLongLong() : body->size();
    } else {
        bodyLength = inlineBody.size();
    }

    socket->setReadBufferSize(kSocketReadBufferBytes);
    silenceTimer->setSingleShot(true);
    connect(silenceTimer, &QTimer::timeout, this, &NodeHttpReply::onSilenceTimeout);
    connect(socket, &QTcpSocket::connected, this, &NodeHttpReply::onConnected);
    connect(socket, &QTcpSocket::bytesWritten, this, &NodeHttpReply::onBytesWritten);
    connect(socket, &QTcpSocket::readyRead, this, &NodeHttpReply::onSocketReadyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &NodeHttpReply::onSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &NodeHttpReply::onSocketDisconnected);
    // Started from the event loop, as Qt's replies are, so that the caller connects first.
    QMetaObject::invokeMethod(this, &NodeHttpReply::start, Qt::QueuedConnection);
}

NodeHttpReply::~NodeHttpReply()
{
    if (socket)
        socket->abort();
}

void NodeHttpReply::start()
{
    if (done)
        return;
    const QUrl target = url();
    if (!target.isValid() || target.host().isEmpty() || target.scheme() != QLatin1String("http")) {
        finishWith(ProtocolUnknownError, QStringLiteral("Invalid node address: %1").arg(target.toDisplayString()));
        return;
    }
    restartSilenceTimer();
    socket->connectToHost(target.host(), quint16(target.port(80)));
}

QByteArray NodeHttpReply::requestHead() const
{
    const QUrl target = url();
    QByteArray path = target.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty())
        path = "/";
    if (target.hasQuery())
        path += '?' + target.query(QUrl::FullyEncoded).toUtf8();

    const QNetworkRequest& sent = request();
    QByteArray head = "POST " + path + " HTTP/1.1\r\nHost: " + hostField(target) + "\r\n";
    const QByteArray userAgent = sent.header(QNetworkRequest::UserAgentHeader).toByteArray();
    if (!userAgent.isEmpty())
        head += "User-Agent: " + userAgent + "\r\n";
    const QByteArray contentType = sent.header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    const QList<QByteArray> names = sent.rawHeaderList();
    for (const QByteArray& name : names) {
        const QByteArray lower = name.toLower();
        if (lower == "user-agent" || lower == "content-type" || lower == "content-length" || lower == "host"
            || lower == "connection")
            continue;
        head += name + ": " + sent.rawHeader(name) + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(bodyLength) + "\r\n";
    head += "Accept-Encoding: identity\r\nConnection: close\r\n\r\n";
    return head;
}

void NodeHttpReply::onConnected()
{
    restartSilenceTimer();
    QByteArray head = requestHead();
    if (!bodyDevice) {
        head += pendingInlineBody;
        pendingInlineBody.clear();
        bodySent = bodyLength;
    }
    socket->write(head);
    sendMoreBody();
}

void NodeHttpReply::onBytesWritten()
{
    restartSilenceTimer();
    sendMoreBody();
}

void NodeHttpReply::sendMoreBody()
{
    if (done || !bodyDevice || bodySent >= bodyLength)
        return;
    while (bodySent < bodyLength && socket->bytesToWrite() < kUploadWindowBytes) {
        QByteArray piece(qMin<qint64>(64 * 1024, bodyLength - bodySent), Qt::Uninitialized);
        const qint64 read = bodyDevice->read(piece.data(), piece.size());
        if (read <= 0) {
            // The body's device names the cause; the handler asks it.
            finishWith(UnknownContentError, bodyDevice->errorString().isEmpty()
                    ? QStringLiteral("The upload could not be read")
                    : bodyDevice->errorString());
            return;
        }
        piece.truncate(read);
        socket->write(piece);
        bodySent += read;
        emit uploadProgress(bodySent, bodyLength);
        if (done)
            return;
    }
}

void NodeHttpReply::onSocketReadyRead()
{
    if (done)
        return;
    restartSilenceTimer();
    readSocket();
    scheduleDelivery();
}

void NodeHttpReply::readSocket()
{
    if (pendingError != NoError)
        return;
    QByteArrayList decoded;
    const bool ok = reader.feed(socket->readAll(), decoded);
    for (QByteArray& piece : decoded) {
        // An error body is kept for its message even when a handler reads it as it streams in.
        if (reader.statusCode() >= 400 && errorBodyHead.size() < kErrorBodyPeekBytes)
            errorBodyHead += piece.left(kErrorBodyPeekBytes - errorBodyHead.size());
        receivedAvailable += piece.size();
        receivedTotal += piece.size();
        received.append(std::move(piece));
        unsignalledBytes = true;
    }
    if (!ok) {
        pendingError = ProtocolFailure;
        pendingErrorText = reader.failure();
    }
}

void NodeHttpReply::scheduleDelivery()
{
    // Signals go out from the event loop, never from inside the socket's own: a receiver that
    // spins the event loop (a modal progress dialog does) must still see the data that follows,
    // and a socket does not signal again while its own signal is being handled.
    if (deliveryScheduled)
        return;
    deliveryScheduled = true;
    QMetaObject::invokeMethod(this, &NodeHttpReply::deliver, Qt::QueuedConnection);
}

void NodeHttpReply::deliver()
{
    deliveryScheduled = false;
    if (done)
        return;
    const QPointer<NodeHttpReply> self(this);
    if (reader.headersComplete() && !headersDelivered) {
        deliverHeaders();
        if (!self || done)
            return;
    }
    if (unsignalledBytes) {
        unsignalledBytes = false;
        emit readyRead();
        if (!self || done)
            return;
        const QVariant length = header(QNetworkRequest::ContentLengthHeader);
        emit downloadProgress(receivedTotal, length.isValid() ? length.toLongLong() : -1);
        if (!self || done)
            return;
    }
    if (pendingError != NoError) {
        finishWith(pendingError, pendingErrorText);
        return;
    }
    if (reader.isComplete()) {
        complete();
        return;
    }
    if (inputEnded) {
        reader.endOfInput();
        if (reader.isComplete())
            complete();
        else
            finishWith(RemoteHostClosedError, QStringLiteral("Connection closed"));
    }
}

void NodeHttpReply::deliverHeaders()
{
    headersDelivered = true;
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, reader.statusCode());
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(reader.reasonPhrase()));
    for (const auto& field : reader.headerFields()) {
        const QByteArray earlier = rawHeader(field.first);
        setRawHeader(field.first, earlier.isEmpty() ? field.second : earlier + ", " + field.second);
    }
    emit metaDataChanged();
}

void NodeHttpReply::onSocketDisconnected()
{
    if (done || inputEnded)
        return;
    // What the socket still holds was read before it closed.
    if (socket->bytesAvailable() > 0)
        readSocket();
    inputEnded = true;
    scheduleDelivery();
}

void NodeHttpReply::onSocketError()
{
    if (done)
        return;
    const QAbstractSocket::SocketError error = socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onSocketDisconnected();
        return;
    }
    if (pendingError == NoError) {
        pendingError = errorForSocket(error);
        pendingErrorText = error == QAbstractSocket::HostNotFoundError
            ? QStringLiteral("Host %1 not found").arg(url().host())
            : socket->errorString();
    }
    scheduleDelivery();
}

void NodeHttpReply::onSilenceTimeout()
{
    if (done)
        return;
    // As Qt's transfer timeout does: the handlers tell this from a cancel of the client's own.
    finishWith(OperationCanceledError, QStringLiteral("Operation canceled"));
}

void NodeHttpReply::restartSilenceTimer()
{
    const int timeoutMs = request().transferTimeout();
    if (timeoutMs > 0)
        silenceTimer->start(timeoutMs);
}

QString NodeHttpReply::httpFailureText() const
{
    const int status = reader.statusCode();
    QString message = nodeErrorMessage(errorBodyHead);
    if (message.isEmpty()) {
        const QString reasonText = QString::fromLatin1(reader.reasonPhrase());
        message = reasonText.isEmpty() ? QStringLiteral("HTTP status %1").arg(status)
                                       : QStringLiteral("%1 %2").arg(QString::number(status), reasonText);
    }
    const QByteArray origin = request().rawHeader("Origin");
    if (status == 403 && !origin.isEmpty()) {
        return QStringLiteral("The node refused the origin \"%1\" (%2). List it under "
                              "API.HTTPHeaders.Access-Control-Allow-Origin in the node's config, or "
                              "send no Origin header (the node allows http://127.0.0.1:%3 of its own "
                              "API port by default).")
            .arg(QString::fromUtf8(origin), message, QString::number(url().port(80)));
    }
    return message;
}

void NodeHttpReply::complete()
{
    const int status = reader.statusCode();
    if (status >= 400) {
        finishWith(errorForStatus(status), httpFailureText());
        return;
    }
    const QString streamError = QString::fromUtf8(reader.trailer("X-Stream-Error")).trimmed();
    if (!streamError.isEmpty()) {
        finishWith(InternalServerError, streamError);
        return;
    }
    const QByteArray announced = reader.header("X-Content-Length");
    if (!announced.isEmpty()) {
        bool ok = false;
        const qint64 expected = announced.toLongLong(&ok);
        if (ok && expected != receivedTotal) {
            finishWith(UnknownContentError,
                QStringLiteral("The node sent %1 of %2 bytes").arg(QString::number(receivedTotal), QString::number(expected)));
            return;
        }
    }
    finishWith(NoError, QString());
}

void NodeHttpReply::fail(NetworkError code, const QString& message)
{
    setError(code, message);
    emit errorOccurred(code);
}

void NodeHttpReply::finishWith(NetworkError code, const QString& message)
{
    if (done)
        return;
    done = true;
    silenceTimer->stop();
    socket->abort();
    const QPointer<NodeHttpReply> self(this);
    if (!headersDelivered && reader.headersComplete()) {
        deliverHeaders();
        if (!self)
            return;
    }
    if (code != NoError) {
        fail(code, message);
        if (!self)
            return;
    }
    setFinished(true);
    emit finished();
}

void NodeHttpReply::abort()
{
    if (done)
        return;
    close();
}

void NodeHttpReply::close()
{
    // As Qt's replies do: what was not read is dropped, and the reply ends as cancelled.
    received.clear();
    receivedAvailable = 0;
    frontOffset = 0;
    QNetworkReply::close();
    finishWith(OperationCanceledError, QStringLiteral("Operation canceled"));
}

qint64 NodeHttpReply::bytesAvailable() const
{
    return receivedAvailable + QNetworkReply::bytesAvailable();
}

qint64 NodeHttpReply::readData(char* data, qint64 maxSize)
{
    if (receivedAvailable == 0)
        return done ? -1 : 0;
    qint64 copied = 0;
    while (copied < maxSize && !received.isEmpty()) {
        const QByteArray& front = received.constFirst();
        const qint64 count = qMin(maxSize - copied, qint64(front.size()) - frontOffset);
        std::memcpy(data + copied, front.constData() + frontOffset, size_t(count));
        copied += count;
        frontOffset += count;
        if (frontOffset == front.size()) {
            received.removeFirst();
            frontOffset = 0;
        }
    }
    receivedAvailable -= copied;
    return copied;
}
