#pragma once

#include <QByteArray>
#include <QString>

// N generated pins as a node would stream them: valid CIDv1 texts in base32, about seven in ten
// recursive and the rest direct, a name on every other pin; optionally the indirect pins below the
// recursive ones (raw leaves, as an add with CIDv1 makes them).
struct PinFixture {
    int recursiveCount = 0;
    int directCount = 0;
    int indirectCount = 0;
    QByteArray recursiveBody; // "/pin/ls?type=recursive" lines
    QByteArray directBody; // "/pin/ls?type=direct" lines
    QByteArray indirectBody; // "/pin/ls?type=indirect" lines

    static PinFixture generate(int count, int indirect = 0);
    int pinCount() const { return recursiveCount + directCount; }
};

// The CID of pin `index` of a fixture: dag-pb for recursive pins, raw for direct ones.
QString fixtureCid(int index, bool recursive);
bool fixturePinIsRecursive(int index);
// Block `index` as the blockstore lists it: CIDv1, raw codec. Blocks 0..N-1 hold the N pins (the
// same multihash as their CIDs), the indirect pins follow, then blocks nothing pins.
QByteArray fixtureBlockCid(int index);

// Deterministic answers for the per-CID metadata, derived from the CID text alone.
qint64 fixtureDagSize(const QString& cid);
bool fixtureIsDirectory(const QString& cid);
int fixtureRefsCount(const QString& cid);
