#pragma once

#include "pinmodel.h"

#include <QList>
#include <QMap>
#include <QString>

// Orders the rows of one list by one column: what sorting reads, kept apart from the model so
// that a list that has just arrived can be ordered on a worker while the table still shows the
// previous one.
class PinOrder
{
public:
    PinOrder(const QList<PinEntry>& pins, const QList<PinModel::RowKeys>& rowKeys, int column,
        Qt::SortOrder direction, QMap<QString, quint64>& kindRanks);

    // Whether the column sorts through 64-bit keys (the columns whose values arrive later).
    static bool usesKeys(int column);

    // The key of a pin in those columns. Giving a new kind its number may renumber all kinds,
    // which makes the keys made before it stale: see kindsRenumbered().
    quint64 sortKey(int pin);
    bool kindsRenumbered() const { return renumbered; }

    // Fills order (row to pin) and, for the key-sorted columns, keys by row (else empty).
    // Unknown values stay last in both orders; equal values keep the order of the pins.
    void sortAll(QList<int>& order, QList<quint64>& keys);

private:
    quint64 kindRank(const QString& kind);
    bool sortsBefore(int pinA, int pinB) const;
    void sortByText(QList<int>& order) const;
    const QString& sortText(int pin) const;

    const QList<PinEntry>& pins;
    const QList<PinModel::RowKeys>& rowKeys;
    int column;
    Qt::SortOrder direction;
    QMap<QString, quint64>& kindRanks;
    bool renumbered = false;
};
