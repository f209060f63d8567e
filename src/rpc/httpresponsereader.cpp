#include "httpresponsereader.h"

namespace {

// Far above anything a node sends in its status line and header fields; a peer that sends more is
// not a node.
constexpr qint64 kMaxHeaderBytes = 1024 * 1024;
constexpr qint64 kMaxLineBytes = 64 * 1024;

bool listsToken(const QByteArray& value, const QByteArray& token)
{
    const QList<QByteArray> items = value.split(',');
    for (const QByteArray& item : items) {
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QByteArray HttpResponseReader::field(const Fields& fields, const QByteArray& name)
{
    QByteArray value;
    for (const auto& field : fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (!value.isEmpty())
            value += ", ";
        value += field.second;
    }
    return value;
}

bool HttpResponseReader::fail(const QString& why)
{
    state = State::Failed;
    failureText = why;
    pending.clear();
    pendingOffset = 0;
    return false;
}

bool HttpResponseReader::takeLine(QByteArray& line)
{
    const qsizetype end = pending.indexOf('\n', pendingOffset);
    if (end < 0) {
        if (pending.size() - pendingOffset > kMaxLineBytes)
            fail(QStringLiteral("The node sent a line too long to read"));
        return false;
    }
    if (end - pendingOffset > kMaxLineBytes)
        return fail(QStringLiteral("The node sent a line too long to read"));
    qsizetype lineEnd = end;
    if (lineEnd > pendingOffset && pending.at(lineEnd - 1) == '\r')
        --lineEnd;
    line = pending.mid(pendingOffset, lineEnd - pendingOffset);
    const qint64 consumed = end + 1 - pendingOffset;
    pendingOffset = end + 1;
    if (state == State::StatusLine || state == State::Headers || state == State::Trailers) {
        headerBytes += consumed;
        if (headerBytes > kMaxHeaderBytes)
            return fail(QStringLiteral("The node sent more header fields than can be read"));
    }
    return true;
}

bool HttpResponseReader::readStatusLine(const QByteArray& line)
{
    // "HTTP/1.1 200 OK"; the reason may be empty.
    if (!line.startsWith("HTTP/1."))
        return fail(QStringLiteral("The node's answer is not HTTP"));
    const qsizetype firstSpace = line.indexOf(' ');
    if (firstSpace < 0)
        return fail(QStringLiteral("The node's answer has no status"));
    const QByteArray rest = line.mid(firstSpace + 1);
    const qsizetype secondSpace = rest.indexOf(' ');
    bool ok = false;
    const int code = (secondSpace < 0 ? rest : rest.left(secondSpace)).toInt(&ok);
    if (!ok || code < 100 || code > 999)
        return fail(QStringLiteral("The node's answer has no valid status"));
    status = code;
    reason = secondSpace < 0 ? QByteArray() : rest.mid(secondSpace + 1).trimmed();
    headers.clear();
    state = State::Headers;
    return true;
}

bool HttpResponseReader::readFieldLine(const QByteArray& line, Fields& into)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return fail(QStringLiteral("The node sent a malformed header field"));
    into.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    return true;
}

void HttpResponseReader::beginBody()
{
    // An interim answer ("100 Continue") is followed by the real one.
    if (status >= 100 && status < 200) {
        state = State::StatusLine;
        return;
    }
    if (status == 204 || status == 304) {
        state = State::Complete;
        return;
    }
    if (listsToken(header("Transfer-Encoding"), "chunked")) {
        state = State::ChunkSize;
        return;
    }
    const QByteArray length = header("Content-Length");
    if (!length.isEmpty()) {
        bool ok = false;
        remaining = length.toLongLong(&ok);
        if (!ok || remaining < 0) {
            fail(QStringLiteral("The node sent an invalid Content-Length"));
            return;
        }
        state = remaining == 0 ? State::Complete : State::Body;
        return;
    }
    remaining = -1;
    state = State::Body;
}

bool HttpResponseReader::readChunkSize(const QByteArray& line)
{
    qsizetype end = line.indexOf(';'); // chunk extensions carry nothing we need
    const QByteArray digits = (end < 0 ? line : line.left(end)).trimmed();
    bool ok = false;
    remaining = digits.toLongLong(&ok, 16);
    if (!ok || remaining < 0 || digits.isEmpty())
        return fail(QStringLiteral("The node sent a malformed chunk"));
    state = remaining == 0 ? State::Trailers : State::ChunkData;
    return true;
}

void HttpResponseReader::takeBody(qint64 count, QByteArrayList& body)
{
    if (count <= 0)
        return;
    // The whole buffer is body: hand it on without a copy.
    if (pendingOffset == 0 && count == pending.size())
        body.append(std::move(pending));
    else
        body.append(pending.mid(pendingOffset, count));
    pendingOffset += count;
}

bool HttpResponseReader::feed(const QByteArray& bytes, QByteArrayList& body)
{
    if (state == State::Failed)
        return false;
    if (state == State::Complete || bytes.isEmpty())
        return true;
    if (pendingOffset >= pending.size()) {
        pending = bytes;
        pendingOffset = 0;
    } else {
        pending.remove(0, pendingOffset);
        pendingOffset = 0;
        pending.append(bytes);
    }

    QByteArray line;
    while (state != State::Complete && state != State::Failed) {
        const qint64 available = pending.size() - pendingOffset;
        if (available <= 0)
            break;
        switch (state) {
        case State::StatusLine:
            if (!takeLine(line))
                goto out;
            if (line.isEmpty())
                break; // a stray blank line before the status is tolerated
            if (!readStatusLine(line))
                return false;
            break;
        case State::Headers:
            if (!takeLine(line))
                goto out;
            if (line.isEmpty())
                beginBody();
            else if (!readFieldLine(line, headers))
                return false;
            break;
        case State::Body: {
            const qint64 count = remaining < 0 ? available : qMin(available, remaining);
            takeBody(count, body);
            if (remaining >= 0) {
                remaining -= count;
                if (remaining == 0)
                    state = State::Complete;
            }
            break;
        }
        case State::ChunkSize:
            if (!takeLine(line))
                goto out;
            if (!readChunkSize(line))
                return false;
            break;
        case State::ChunkData: {
            const qint64 count = qMin(available, remaining);
            takeBody(count, body);
            remaining -= count;
            if (remaining == 0)
                state = State::ChunkDataEnd;
            break;
        }
        case State::ChunkDataEnd:
            if (!takeLine(line))
                goto out;
            if (!line.isEmpty())
                return fail(QStringLiteral("The node sent a malformed chunk"));
            state = State::ChunkSize;
            break;
        case State::Trailers:
            if (!takeLine(line))
                goto out;
            if (line.isEmpty())
                state = State::Complete;
            else if (!readFieldLine(line, trailers))
                return false;
            break;
        case State::Complete:
        case State::Failed:
            break;
        }
    }
out:
    if (state == State::Failed)
        return false;
    if (pendingOffset >= pending.size()) {
        pending.clear();
        pendingOffset = 0;
    }
    return true;
}

void HttpResponseReader::endOfInput()
{
    if (state == State::Complete || state == State::Failed)
        return;
    if (state == State::Body && remaining < 0) {
        state = State::Complete;
        return;
    }
    wasCutOff = true;
    fail(state <= State::Headers ? QStringLiteral("Connection closed")
                                 : QStringLiteral("The node closed the connection before its answer was complete"));
}
