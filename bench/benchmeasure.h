#pragma once

#include "ipfsrecords.h"

#include <QJsonObject>
#include <QList>

class IpfsClient;

// One process measures one size, so that peak memory figures never mix.

// Load, raw transfer, table, search, GUI stall and peak memory for `pinCount` pins.
QJsonObject measurePinRoad(int pinCount, int runs);

// The main window's first refresh of `pinCount` pins: until the table is loaded, the longest
// stall until a second later, and, when asked, until every refs, size and kind answer the window
// asked for is in.
QJsonObject measureWindowRoad(int pinCount, bool waitForMetadata);

struct LoadRun {
    double ms = 0;
    double stallMs = 0; // the longest GUI stall while the list streamed
    double busyMs = 0; // the GUI thread's own CPU time in its longest stretch without a tick
    QList<PinEntry> pins;
};

// One "recursive+direct" load by the client, fetchPins to pinsReceived.
LoadRun loadPinsOnce(IpfsClient& client, const QStringList& heldCids = {});

// The floor: the same two listings read by bare replies that do nothing with the bytes, in ms.
double rawTransferMs(quint16 port);
