#pragma once

#include <QJsonObject>

// One process measures one size, so that peak memory figures never mix.

// Load, raw transfer, table, search, GUI stall and peak memory for `pinCount` pins.
QJsonObject measurePinRoad(int pinCount, int runs);

// The main window's first refresh of `pinCount` pins: until the table is loaded, the longest
// stall until a second later, and, when asked, until every refs, size and kind answer the window
// asked for is in.
QJsonObject measureWindowRoad(int pinCount, bool waitForMetadata);
