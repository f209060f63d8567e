#pragma once

#include <QJsonObject>

// Opening the DHT stats, swarm and network stats windows against a node whose answers are as big
// as a busy node's: from the show to the loaded window (the requests, reading the answers,
// building and laying out the window), best of `runs`, with the longest GUI stall meanwhile.
QJsonObject measureNetworkWindows(int runs);
