#include "unpinnedblocks.h"

#include "cidtext.h"

#include <QByteArray>

QList<PinEntry> localBlocksWithoutPin(const QSet<QString>& localBlocks, const QSet<QString>& pinnedCids)
{
    QSet<QByteArray> pinnedHashes;
    QSet<QString> unreadablePins;
    pinnedHashes.reserve(pinnedCids.size());
    for (const QString& cid : pinnedCids) {
        const QByteArray multihash = cidMultihash(cid);
        if (multihash.isEmpty())
            unreadablePins.insert(cid);
        else
            pinnedHashes.insert(multihash);
    }

    QList<PinEntry> blocks;
    for (const QString& cid : localBlocks) {
        const QByteArray multihash = cidMultihash(cid);
        if (multihash.isEmpty() ? unreadablePins.contains(cid) : pinnedHashes.contains(multihash))
            continue;
        PinEntry entry;
        entry.cid = cid;
        blocks.append(std::move(entry));
    }
    return blocks;
}
