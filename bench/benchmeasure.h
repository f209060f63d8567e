#pragma once

#include <QJsonObject>

// One process measures one size, so that peak memory figures never mix.

// Load, raw transfer, table, search, GUI stall and peak memory for `pinCount` pins.
QJsonObject measurePinRoad(int pinCount, int runs);

// The main window's metadata road for `pinCount` pins: from the pin list's arrival until every
// refs, size and kind answer it asked for is in.
QJsonObject measureMetadataRoad(int pinCount);
