#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// CIDs as text, read and written without asking the node. A node keys pins by the whole CID
// (version, codec and multihash) but stores blocks by multihash only, and prints either in
// several text forms; comparing or converting them needs the parts.

constexpr quint64 kDagPbCodec = 0x70;
constexpr quint64 kRawCodec = 0x55;

struct CidParts {
    int version = -1; // 0 or 1; -1 when the text is no CID
    quint64 codec = 0;
    QByteArray multihash; // hash code and digest length as varints, then the digest

    bool isValid() const { return version >= 0; }
    // Equal parts name the same CID, whatever the text form.
    bool operator==(const CidParts& other) const
    {
        return version == other.version && codec == other.codec && multihash == other.multihash;
    }
};

// Reads CIDv0 ("Qm…", base58btc) and CIDv1 in base32 ("b…") or base58btc ("z…").
CidParts decodeCid(QStringView text);

// The multihash of a CID text, or empty when the text is none of the forms above.
QByteArray cidMultihash(QStringView text);

// The CIDv0 text of a dag-pb block, or empty when the multihash has no CIDv0 form (only
// SHA2-256 with a 32-byte digest has).
QString cidV0Text(const QByteArray& multihash);

// The CIDv1 text in base32, as a node prints it by default.
QString cidV1Text(quint64 codec, const QByteArray& multihash);

// The other text form of the same dag-pb CID (CIDv0 for CIDv1 and the reverse), or empty when
// the text has none.
QString otherCidVersionText(QStringView text);
