#pragma once

#include "ipfsrecords.h"

#include <QByteArray>
#include <QByteArrayView>

// One line of a streamed "/pin/ls" reply: {"Cid":…,"Type":…,"Name":…}, also wrapped as
// {"PinLsObject":{…}}. Fills cid, type and name; true when the line names a CID.
bool parsePinLsLine(const QByteArray& line, PinEntry* entry);

// A whole "/pin/ls" body: the object form {"Keys":{…}} (also inside {"PinLsList":…}),
// otherwise one entry per line. `total` is the number of keys of the object form.
ParsedPinsPayload parsePinListBody(const QByteArray& body);

// Counts the complete non-blank lines of a stream while it arrives, in time linear in the bytes fed:
// each byte is looked at once, however the lines are cut into chunks.
class PinLineCounter
{
public:
    // Returns the number of lines that this chunk completes and that are not blank.
    int feed(QByteArrayView chunk);
    // Offset, within everything fed, of the line not yet ended by a line feed.
    qsizetype tailStart() const { return tail; }

private:
    qsizetype fed = 0;
    qsizetype tail = 0;
    bool tailBlank = true;
};
