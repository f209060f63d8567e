#include "cidrowindex.h"

#include <QHashFunctions>

namespace {

constexpr size_t kHashSeed = 0x9e3779b97f4a7c15ULL;

size_t hashOf(const QString& cid)
{
    return qHash(cid, kHashSeed);
}

quint32 tagOf(size_t hash)
{
    return quint32(hash);
}

// The home slot comes from other bits than the tag, so that equal tags rarely meet.
qsizetype homeSlot(size_t hash, qsizetype mask)
{
    return qsizetype((hash >> 32) ^ (hash >> 13)) & mask;
}

} // namespace

void CidRowIndex::rebuild(const QList<PinEntry>& pins)
{
    const qsizetype rowTotal = pins.size();
    qsizetype capacity = 16;
    while (capacity < rowTotal * 2)
        capacity *= 2;
    table.fill(Slot(), capacity);
    nextRow.fill(-1, rowTotal);
    const qsizetype mask = capacity - 1;

    // Walking the rows backwards and putting each at the head of its chain leaves every chain
    // in row order.
    for (qsizetype row = rowTotal - 1; row >= 0; --row) {
        const QString& cid = pins.at(row).cid;
        if (cid.isEmpty())
            continue;
        const size_t hash = hashOf(cid);
        const quint32 tag = tagOf(hash);
        for (qsizetype slot = homeSlot(hash, mask);; slot = (slot + 1) & mask) {
            Slot& entry = table[slot];
            if (entry.firstRow < 0) {
                entry.tag = tag;
                entry.firstRow = qint32(row);
                break;
            }
            if (entry.tag == tag) {
                nextRow[row] = entry.firstRow;
                entry.firstRow = qint32(row);
                break;
            }
        }
    }
}

void CidRowIndex::clear()
{
    table.clear();
    nextRow.clear();
}

int CidRowIndex::firstRowFor(const QString& cid) const
{
    const size_t hash = hashOf(cid);
    const quint32 tag = tagOf(hash);
    const qsizetype mask = table.size() - 1;
    for (qsizetype slot = homeSlot(hash, mask);; slot = (slot + 1) & mask) {
        const Slot& entry = table.at(slot);
        if (entry.firstRow < 0)
            return -1;
        if (entry.tag == tag)
            return entry.firstRow;
    }
}
