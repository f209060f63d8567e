#pragma once

#include <QList>
#include <QtGlobal>

// The pins of one load whose size or kind is still to be asked for, in the order of the list.
// The client is handed a few at a time as its queues drain: handed a million at once, it would
// hold every CID in a set and a list per kind of request until the node had answered them all,
// minutes later, and a refresh meanwhile would hold them beside two tables.
class MetadataFeed
{
public:
    // Forgets what was still to be asked for; `load` names the rows the pin indexes refer to.
    void restart(quint64 load);
    quint64 load() const { return currentLoad; }
    void reserve(qsizetype pins);

    void addSize(int pinIndex) { sizes.pins.append(pinIndex); }
    void addKind(int pinIndex) { kinds.pins.append(pinIndex); }
    // The next pin to ask about, or -1 when none is left.
    int takeSize() { return sizes.take(); }
    int takeKind() { return kinds.take(); }

private:
    struct Lane {
        QList<int> pins;
        qsizetype next = 0;

        int take();
    };

    Lane sizes;
    Lane kinds;
    quint64 currentLoad = 0;
};
