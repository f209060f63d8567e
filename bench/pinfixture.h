#pragma once

#include <QByteArray>
#include <QString>

// N generated pins as a node would stream them: valid CIDv1 texts in base32, about seven in ten
// recursive and the rest direct, a name on every other pin.
struct PinFixture {
    int recursiveCount = 0;
    int directCount = 0;
    QByteArray recursiveBody; // "/pin/ls?type=recursive" lines
    QByteArray directBody;    // "/pin/ls?type=direct" lines

    static PinFixture generate(int count);
};

// The CID of pin `index` of a fixture: dag-pb for recursive pins, raw for direct ones.
QString fixtureCid(int index, bool recursive);
bool fixturePinIsRecursive(int index);

// Deterministic answers for the per-CID metadata, derived from the CID text alone.
qint64 fixtureDagSize(const QString& cid);
bool fixtureIsDirectory(const QString& cid);
int fixtureRefsCount(const QString& cid);
