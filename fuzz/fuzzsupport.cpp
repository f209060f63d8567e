#include "fuzzsupport.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {

// Readers may warn about what they are fed; printing every warning would slow the run to a crawl.
void quietMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "qFatal: %s\n", qPrintable(message));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(quietMessageHandler);
    return 0;
}

void fuzzFailure(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

QList<QByteArrayView> fuzzChunks(QByteArrayView input)
{
    // A small linear congruential generator seeded from the input's length and bytes.
    quint32 state = quint32(input.size()) * 2654435761u;
    for (const char c : input.first(qMin<qsizetype>(input.size(), 16)))
        state = state * 31u + quint8(c);
    QList<QByteArrayView> chunks;
    qsizetype start = 0;
    while (start < input.size()) {
        state = state * 1664525u + 1013904223u;
        // Mostly short chunks, now and then a long one, sometimes a single byte.
        const qsizetype length
            = (state >> 28) == 0 ? 1 + qsizetype((state >> 8) % 4096) : 1 + qsizetype((state >> 8) % 24);
        const qsizetype take = qMin(length, input.size() - start);
        chunks.append(input.sliced(start, take));
        start += take;
    }
    return chunks;
}
