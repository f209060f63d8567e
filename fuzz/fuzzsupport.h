#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstddef>
#include <cstdint>

// A broken invariant is a finding: say which and abort, so that libFuzzer keeps the input.
[[noreturn]] void fuzzFailure(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            fuzzFailure(#condition, __FILE__, __LINE__);                                                     \
    } while (false)

// The input as bytes that own a copy (readers may keep views of what they are given).
inline QByteArray fuzzInput(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The input cut into chunks at places chosen by the input itself, as a network read may cut a
// stream: the same input always gives the same cuts.
QList<QByteArrayView> fuzzChunks(QByteArrayView input);
