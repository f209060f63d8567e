#pragma once

#include <QByteArray>

// Cuts a streamed body into lines as chunks arrive. `tail` holds the unterminated end of the
// stream between calls; it must be owned by the caller (not read out of a QVariant), so that
// appending to it never copies what it already holds. Each chunk is scanned once, whatever
// its size, and every complete line is passed to onLine without its line feed. The line may
// share the chunk's bytes: it is valid only during the call, so onLine must copy what it keeps.
template <typename OnLine> void feedStreamLines(QByteArray& tail, const QByteArray& chunk, OnLine&& onLine)
{
    qsizetype lineFeed = chunk.indexOf('\n');
    if (lineFeed < 0) {
        tail.append(chunk);
        return;
    }
    if (tail.isEmpty()) {
        onLine(QByteArray::fromRawData(chunk.constData(), lineFeed));
    } else {
        tail.append(chunk.constData(), lineFeed);
        onLine(tail);
    }
    qsizetype start = lineFeed + 1;
    while ((lineFeed = chunk.indexOf('\n', start)) >= 0) {
        onLine(QByteArray::fromRawData(chunk.constData() + start, lineFeed - start));
        start = lineFeed + 1;
    }
    tail = chunk.mid(start);
}

// Calls onLine for every line of a whole body, the last one also when it has no line feed.
// As above, the lines share the body's bytes and are valid only during the call.
template <typename OnLine> void forEachBodyLine(const QByteArray& body, OnLine&& onLine)
{
    qsizetype start = 0;
    while (start <= body.size()) {
        qsizetype lineFeed = body.indexOf('\n', start);
        if (lineFeed < 0)
            lineFeed = body.size();
        onLine(QByteArray::fromRawData(body.constData() + start, lineFeed - start));
        start = lineFeed + 1;
    }
}
