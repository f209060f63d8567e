#include "cidtext.h"

namespace {

QByteArray decodeBase58(const QString& text)
{
    static const QByteArray alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    QByteArray bytes; // big-endian
    for (const QChar c : text) {
        int carry = int(alphabet.indexOf(char(c.toLatin1())));
        if (carry < 0 || c.unicode() > 127)
            return {};
        for (qsizetype i = bytes.size() - 1; i >= 0; --i) {
            carry += 58 * quint8(bytes[i]);
            bytes[i] = char(carry & 0xff);
            carry >>= 8;
        }
        for (; carry > 0; carry >>= 8)
            bytes.prepend(char(carry & 0xff));
    }
    for (const QChar c : text) {
        if (c != QLatin1Char('1'))
            break;
        bytes.prepend('\0');
    }
    return bytes;
}

QByteArray decodeBase32(const QString& text)
{
    QByteArray bytes;
    quint32 buffer = 0;
    int bits = 0;
    for (const QChar c : text) {
        const char ch = char(c.toLatin1());
        int value = -1;
        if (ch >= 'a' && ch <= 'z')
            value = ch - 'a';
        else if (ch >= '2' && ch <= '7')
            value = ch - '2' + 26;
        if (value < 0)
            return {};
        buffer = (buffer << 5) | quint32(value);
        bits += 5;
        if (bits >= 8) {
            bytes.append(char((buffer >> (bits - 8)) & 0xff));
            bits -= 8;
        }
    }
    return bytes;
}

// Skips one unsigned varint; false when the bytes end inside it.
bool skipVarint(const QByteArray& bytes, qsizetype* at)
{
    while (*at < bytes.size()) {
        if (!(quint8(bytes.at((*at)++)) & 0x80))
            return true;
    }
    return false;
}

} // namespace

QByteArray multihashOf(const QString& cid)
{
    if (cid.size() == 46 && cid.startsWith(QLatin1String("Qm")))
        return decodeBase58(cid);
    QByteArray bytes;
    if (cid.startsWith(QLatin1Char('b')))
        bytes = decodeBase32(cid.mid(1));
    else if (cid.startsWith(QLatin1Char('z')))
        bytes = decodeBase58(cid.mid(1));
    qsizetype at = 0;
    if (bytes.isEmpty() || quint8(bytes.at(0)) != 1 || !skipVarint(bytes, &at) || !skipVarint(bytes, &at))
        return {};
    return bytes.mid(at);
}

QString blockOf(const QString& cid)
{
    const QByteArray multihash = multihashOf(cid);
    if (multihash.isEmpty())
        return {};
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    QString text = QStringLiteral("b");
    quint32 buffer = 0;
    int bits = 0;
    for (const char byte : QByteArray("\x01\x55") + multihash) {
        buffer = (buffer << 8) | quint8(byte);
        bits += 8;
        while (bits >= 5) {
            text += QLatin1Char(alphabet[(buffer >> (bits - 5)) & 31]);
            bits -= 5;
        }
    }
    if (bits > 0)
        text += QLatin1Char(alphabet[(buffer << (5 - bits)) & 31]);
    return text;
}

QSet<QString> blocksOf(const QStringList& cids)
{
    QSet<QString> blocks;
    for (const QString& cid : cids)
        blocks.insert(blockOf(cid));
    return blocks;
}
