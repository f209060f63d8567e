#pragma once

#include "ipfsrecords.h"

#include <QList>
#include <QSet>
#include <QString>

// The local blocks no pin covers. A node lists its blocks by multihash alone (as raw CIDv1) and
// its pins by CID in any version and codec, so the two are compared by multihash; a text that
// is no readable CID is compared as it stands. Each block keeps the text the node listed it by.
QList<PinEntry> localBlocksWithoutPin(const QSet<QString>& localBlocks, const QSet<QString>& pinnedCids);
