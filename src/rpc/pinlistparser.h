#pragma once

#include "ipfsrecords.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// One line of a streamed "/pin/ls" reply: {"Cid":…,"Type":…,"Name":…}, also wrapped as
// {"PinLsObject":{…}}. Fills cid, type and name; true when the line names a CID.
bool parsePinLsLine(const QByteArray& line, PinEntry* entry);

// A whole "/pin/ls" body: the object form {"Keys":{…}} (also inside {"PinLsList":…}),
// otherwise one entry per line. `total` is the number of keys of the object form.
ParsedPinsPayload parsePinListBody(const QByteArray& body);

// The same entries as parsePinListBody, sorted by CID and unique as sortedUniqueByCid makes them;
// `total` as there. An entry whose CID is in `heldCids` (sorted in UTF-16 order) shares that text.
// A body given over (moved in, shared with no one) is compacted while its entries are made.
ParsedPinsPayload parsePinListBodyByCid(QByteArray body, const QStringList& heldCids = {});

// The entries sorted by CID in UTF-16 code unit order, one per CID: of several entries with the
// same CID the one listed last. Entries without a CID are left out.
QList<PinEntry> sortedUniqueByCid(QList<PinEntry> pins);

// Joins two lists made by sortedUniqueByCid into one, still sorted and unique; for a CID in both,
// the entry of `later` is kept.
QList<PinEntry> mergeSortedByCid(QList<PinEntry> earlier, QList<PinEntry> later);

// Counts the complete non-blank lines of a stream while it arrives, in time linear in the bytes fed:
// each byte is looked at once, however the lines are cut into chunks.
class PinLineCounter
{
public:
    // Returns the number of lines that this chunk completes and that are not blank.
    int feed(QByteArrayView chunk);
    // Offset, within everything fed, of the line not yet ended by a line feed.
    qsizetype tailStart() const { return tail; }
    // Whether the stream so far ends in a non-blank line without its line feed.
    bool hasUnendedLine() const { return !tailBlank; }

private:
    qsizetype fed = 0;
    qsizetype tail = 0;
    bool tailBlank = true;
};
