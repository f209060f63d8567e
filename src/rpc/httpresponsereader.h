#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QPair>
#include <QString>

// Reads one HTTP/1.1 response as its bytes arrive: status line, header fields, a body framed by
// Content-Length, by chunks or by the end of the connection, and the trailer fields after the last
// chunk (which is where a node reports a failure that came after its answer began).
class HttpResponseReader
{
public:
    using Fields = QList<QPair<QByteArray, QByteArray>>;

    // Takes the next bytes; the decoded body bytes among them are appended to `body`. Returns false
    // once the response is malformed (see failure()); bytes after a complete response are ignored.
    bool feed(const QByteArray& bytes, QByteArrayList& body);
    // The connection ended: a body read until the end is then complete, any other part is cut off.
    void endOfInput();

    bool headersComplete() const { return state > State::Headers; }
    bool isComplete() const { return state == State::Complete; }
    bool hasFailed() const { return state == State::Failed; }
    // Why the response is malformed or cut off; empty while neither.
    QString failure() const { return failureText; }
    bool cutOff() const { return wasCutOff; }

    int statusCode() const { return status; }
    QByteArray reasonPhrase() const { return reason; }
    const Fields& headerFields() const { return headers; }
    const Fields& trailerFields() const { return trailers; }
    QByteArray header(const QByteArray& name) const { return field(headers, name); }
    QByteArray trailer(const QByteArray& name) const { return field(trailers, name); }

private:
    enum class State { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailers, Complete, Failed };

    static QByteArray field(const Fields& fields, const QByteArray& name);
    bool takeLine(QByteArray& line);
    bool readStatusLine(const QByteArray& line);
    bool readFieldLine(const QByteArray& line, Fields& into);
    void beginBody();
    bool readChunkSize(const QByteArray& line);
    void takeBody(qint64 count, QByteArrayList& body);
    bool fail(const QString& why);

    State state = State::StatusLine;
    QByteArray pending; // bytes not consumed yet
    qint64 pendingOffset = 0;
    qint64 headerBytes = 0;
    qint64 remaining = -1; // of the body or the current chunk; -1: until the connection ends
    int status = 0;
    QByteArray reason;
    Fields headers;
    Fields trailers;
    QString failureText;
    bool wasCutOff = false;
};
