#include "pinfixture.h"

#include <QHash>

namespace {

quint64 splitMix64(quint64 x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// RFC 4648 base32, lower case, no padding: the multibase 'b' alphabet.
QByteArray base32Lower(const unsigned char* data, int size)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    QByteArray text;
    text.reserve((size * 8 + 4) / 5);
    quint32 buffer = 0;
    int bits = 0;
    for (int i = 0; i < size; ++i) {
        buffer = (buffer << 8) | data[i];
        bits += 8;
        while (bits >= 5) {
            text.append(alphabet[(buffer >> (bits - 5)) & 31]);
            bits -= 5;
        }
    }
    if (bits > 0)
        text.append(alphabet[(buffer << (5 - bits)) & 31]);
    return text;
}

QByteArray cidText(int index, bool recursive)
{
    // <version 1><codec><sha2-256><32 bytes>; dag-pb gives "bafybei…", raw gives "bafkrei…".
    unsigned char bytes[36] = { 0x01, static_cast<unsigned char>(recursive ? 0x70 : 0x55), 0x12, 0x20 };
    for (int word = 0; word < 4; ++word) {
        const quint64 value = splitMix64(quint64(index) * 4 + quint64(word));
        for (int b = 0; b < 8; ++b)
            bytes[4 + word * 8 + b] = static_cast<unsigned char>(value >> (8 * b));
    }
    return 'b' + base32Lower(bytes, 36);
}

quint64 cidHash(const QString& cid)
{
    return splitMix64(qHash(cid, 7));
}

} // namespace

bool fixturePinIsRecursive(int index)
{
    return splitMix64(quint64(index) ^ 0xabcdefULL) % 10 < 7;
}

QString fixtureCid(int index, bool recursive)
{
    return QString::fromLatin1(cidText(index, recursive));
}

QByteArray fixtureBlockCid(int index)
{
    return cidText(index, false);
}

PinFixture PinFixture::generate(int count, int indirect)
{
    PinFixture fixture;
    const qsizetype lineEstimate = 110;
    fixture.recursiveBody.reserve(qsizetype(count) * lineEstimate * 7 / 10 + 4096);
    fixture.directBody.reserve(qsizetype(count) * lineEstimate * 3 / 10 + 4096);
    for (int index = 0; index < count; ++index) {
        const bool recursive = fixturePinIsRecursive(index);
        QByteArray& body = recursive ? fixture.recursiveBody : fixture.directBody;
        // Member order and omitted empty members as a node prints them.
        body += "{\"Cid\":\"";
        body += cidText(index, recursive);
        body += '"';
        if (index % 2 == 0) {
            body += ",\"Name\":\"";
            body += (index % 4 == 0) ? "backup-" : "site-";
            body += QByteArray::number(index);
            body += '"';
        }
        body += recursive ? ",\"Type\":\"recursive\"}\n" : ",\"Type\":\"direct\"}\n";
        ++(recursive ? fixture.recursiveCount : fixture.directCount);
    }
    fixture.indirectBody.reserve(qsizetype(indirect) * 90);
    for (int block = count; block < count + indirect; ++block) {
        fixture.indirectBody += "{\"Cid\":\"";
        fixture.indirectBody += cidText(block, false);
        fixture.indirectBody += "\",\"Type\":\"indirect\"}\n";
    }
    fixture.indirectCount = indirect;
    return fixture;
}

qint64 fixtureDagSize(const QString& cid)
{
    // From a few hundred bytes to about 8 GiB, most of them small.
    const quint64 h = cidHash(cid);
    const int shift = int(h % 24) + 8;
    return qint64((h >> 8) % (quint64(1) << shift)) + 100;
}

bool fixtureIsDirectory(const QString& cid)
{
    return cid.startsWith(QLatin1String("bafy")) && cidHash(cid) % 3 != 0;
}

int fixtureRefsCount(const QString& cid)
{
    return int(cidHash(cid) % 40);
}
