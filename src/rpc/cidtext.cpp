#include "cidtext.h"

#include <array>

namespace {

constexpr char kBase58Alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kBase32Alphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
constexpr quint64 kSha256Code = 0x12;
constexpr int kSha256Length = 32;
// A CID longer than this is no CID a node makes (the longest digests are 64 bytes).
constexpr qsizetype kMaxCidBytes = 256;

constexpr std::array<qint8, 128> reverseAlphabet(const char* alphabet, int size)
{
    std::array<qint8, 128> table {};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < size; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<qint8>(i);
    return table;
}

constexpr auto kBase58Values = reverseAlphabet(kBase58Alphabet, 58);
constexpr auto kBase32Values = reverseAlphabet(kBase32Alphabet, 32);

int digitValue(const std::array<qint8, 128>& table, QChar c)
{
    const char16_t unit = c.unicode();
    return unit < 128 ? table[unit] : -1;
}

bool decodeBase58(QStringView text, QByteArray* out)
{
    if (text.isEmpty() || text.size() > kMaxCidBytes * 2)
        return false;
    // Big-endian base-256 digits, grown as the number grows.
    QByteArray bytes;
    for (const QChar c : text) {
        int carry = digitValue(kBase58Values, c);
        if (carry < 0)
            return false;
        for (qsizetype i = bytes.size() - 1; i >= 0; --i) {
            carry += 58 * static_cast<unsigned char>(bytes[i]);
            bytes[i] = static_cast<char>(carry & 0xff);
            carry >>= 8;
        }
        while (carry > 0) {
            bytes.prepend(static_cast<char>(carry & 0xff));
            carry >>= 8;
        }
    }
    qsizetype leadingZeros = 0;
    while (leadingZeros < text.size() && text[leadingZeros] == QLatin1Char('1'))
        ++leadingZeros;
    *out = QByteArray(leadingZeros, '\0') + bytes;
    return true;
}

QString encodeBase58(const QByteArray& bytes)
{
    // Little-endian base-58 digits.
    QByteArray digits;
    for (const char byte : bytes) {
        int carry = static_cast<unsigned char>(byte);
        for (char& digit : digits) {
            carry += digit << 8;
            digit = static_cast<char>(carry % 58);
            carry /= 58;
        }
        while (carry > 0) {
            digits.append(static_cast<char>(carry % 58));
            carry /= 58;
        }
    }
    QString text;
    text.reserve(bytes.size() * 138 / 100 + 2);
    for (qsizetype i = 0; i < bytes.size() && bytes[i] == '\0'; ++i)
        text.append(QLatin1Char('1'));
    for (qsizetype i = digits.size() - 1; i >= 0; --i)
        text.append(QLatin1Char(kBase58Alphabet[int(digits[i])]));
    return text;
}

// Unpadded lower-case RFC 4648 base32, as multibase "b" writes it.
bool decodeBase32(QStringView text, QByteArray* out)
{
    if (text.size() > kMaxCidBytes * 2)
        return false;
    QByteArray bytes;
    bytes.reserve(text.size() * 5 / 8);
    quint32 buffer = 0;
    int bits = 0;
    for (const QChar c : text) {
        const int value = digitValue(kBase32Values, c);
        if (value < 0)
            return false;
        buffer = (buffer << 5) | quint32(value);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            bytes.append(static_cast<char>((buffer >> bits) & 0xff));
        }
    }
    // Left-over bits are padding: fewer than a byte, and zero.
    if (bits >= 5 || (buffer & ((1u << bits) - 1)) != 0)
        return false;
    *out = bytes;
    return true;
}

QString encodeBase32(const QByteArray& bytes)
{
    QString text;
    text.reserve((bytes.size() * 8 + 4) / 5);
    quint32 buffer = 0;
    int bits = 0;
    for (const char byte : bytes) {
        buffer = (buffer << 8) | static_cast<unsigned char>(byte);
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            text.append(QLatin1Char(kBase32Alphabet[(buffer >> bits) & 0x1f]));
        }
    }
    if (bits > 0)
        text.append(QLatin1Char(kBase32Alphabet[(buffer << (5 - bits)) & 0x1f]));
    return text;
}

// An unsigned varint of at most 9 bytes, the multiformats limit, in its shortest encoding.
bool readVarint(const QByteArray& bytes, qsizetype* at, quint64* value)
{
    quint64 result = 0;
    for (int i = 0; i < 9; ++i) {
        if (*at >= bytes.size())
            return false;
        const auto byte = static_cast<unsigned char>(bytes[(*at)++]);
        result |= quint64(byte & 0x7f) << (7 * i);
        if ((byte & 0x80) == 0) {
            if (byte == 0 && i > 0)
                return false;
            *value = result;
            return true;
        }
    }
    return false;
}

void appendVarint(QByteArray* bytes, quint64 value)
{
    while (value >= 0x80) {
        bytes->append(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    bytes->append(static_cast<char>(value));
}

// A multihash that fills the rest of the bytes exactly.
bool isMultihash(const QByteArray& bytes, qsizetype at)
{
    quint64 code = 0;
    quint64 length = 0;
    if (!readVarint(bytes, &at, &code) || !readVarint(bytes, &at, &length))
        return false;
    return quint64(bytes.size() - at) == length;
}

bool isSha256Multihash(const QByteArray& multihash)
{
    return multihash.size() == 2 + kSha256Length && static_cast<unsigned char>(multihash[0]) == kSha256Code
        && multihash[1] == kSha256Length;
}

CidParts partsOfV1(const QByteArray& bytes)
{
    qsizetype at = 0;
    quint64 version = 0;
    quint64 codec = 0;
    if (!readVarint(bytes, &at, &version) || version != 1 || !readVarint(bytes, &at, &codec)
        || !isMultihash(bytes, at))
        return {};
    return { 1, codec, bytes.mid(at) };
}

} // namespace

CidParts decodeCid(QStringView text)
{
    QByteArray bytes;
    if (text.size() == 46 && text.startsWith(QLatin1String("Qm"))) {
        if (!decodeBase58(text, &bytes) || !isSha256Multihash(bytes))
            return {};
        return { 0, kDagPbCodec, bytes };
    }
    if (text.size() < 2)
        return {};
    if (text.front() == QLatin1Char('b') && decodeBase32(text.mid(1), &bytes))
        return partsOfV1(bytes);
    if (text.front() == QLatin1Char('z') && decodeBase58(text.mid(1), &bytes))
        return partsOfV1(bytes);
    return {};
}

QByteArray cidMultihash(QStringView text)
{
    return decodeCid(text).multihash;
}

QString cidV0Text(const QByteArray& multihash)
{
    return isSha256Multihash(multihash) ? encodeBase58(multihash) : QString();
}

QString cidV1Text(quint64 codec, const QByteArray& multihash)
{
    QByteArray bytes;
    bytes.reserve(multihash.size() + 4);
    appendVarint(&bytes, 1);
    appendVarint(&bytes, codec);
    bytes.append(multihash);
    return QLatin1Char('b') + encodeBase32(bytes);
}

QString otherCidVersionText(QStringView text)
{
    const CidParts parts = decodeCid(text);
    if (parts.codec != kDagPbCodec)
        return {};
    if (parts.version == 0)
        return cidV1Text(kDagPbCodec, parts.multihash);
    return cidV0Text(parts.multihash);
}
