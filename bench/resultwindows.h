#pragma once

#include <QJsonObject>

// Windows and flows whose size grows with what the node reports, each against a node of its own on
// 127.0.0.1: how long until the user sees the result, and the longest GUI stall meanwhile.

// An add whose node reports `entryCount` entries: from the upload to the result box on screen.
QJsonObject measureAddResultBox(int entryCount);

// A garbage collection that removed `cidCount` blocks: from the click to the report on screen.
QJsonObject measureGcReport(int cidCount);

// A pin whose folder holds `nameCount` entries of one name, each made unique for saving: from
// opening the contents window to the loaded tree.
QJsonObject measureCollidingNames(int nameCount);

// The remote-pin follow-up of an add of `cidCount` files while the node takes `serviceDelayMs` for
// every remote pin request (it waits for the pinning service): the requests the window sends in
// the first ten seconds, the most open at once, and how long a refresh issued three seconds in
// takes to reach the node with its "/pin/ls".
QJsonObject measureRemotePinFollowUp(int cidCount, int serviceDelayMs);
