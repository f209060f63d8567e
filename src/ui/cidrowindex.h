#pragma once

#include "ipfsrecords.h"

#include <QList>
#include <QString>

// Finds the rows of a CID among the rows of one load. Built in one pass: an open-addressing
// table keyed by the CID's hash, each slot heading a chain of its rows in row order. Rows in a
// chain are checked against the CID itself, so a shared hash never mixes two CIDs.
//
// A QHash<QString, ...> of a million CIDs spends most of its build probing and comparing long
// strings that share their prefix; this table compares 32-bit tags and stays at 12 bytes per row.
class CidRowIndex
{
public:
    void rebuild(const QList<PinEntry>& pins);
    void clear();

    // Calls visit(row) for every row of pins whose CID is cid, in row order.
    template <typename Visit>
    void forEachRow(const QList<PinEntry>& pins, const QString& cid, Visit visit) const
    {
        if (cid.isEmpty() || table.isEmpty())
            return;
        for (int row = firstRowFor(cid); row >= 0; row = nextRow.at(row)) {
            if (row < pins.size() && pins.at(row).cid == cid)
                visit(row);
        }
    }

private:
    struct Slot {
        quint32 tag = 0;
        qint32 firstRow = -1; // -1: empty slot
    };

    int firstRowFor(const QString& cid) const;

    QList<Slot> table; // size is a power of two, at least twice the number of rows
    QList<qint32> nextRow; // next row of the same chain, -1 at its end
};
