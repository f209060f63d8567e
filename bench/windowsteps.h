#pragma once

#include <QJsonObject>

// Steps of the main window and its result windows that a large node makes long, each against the
// bench node in its own process; every figure comes with the longest GUI-thread stall of its step.

// Two refreshes of `pins` rows sorted by `column` while metadata answers arrive, each watched for
// `watchSeconds` after its table is in: the first from an empty table, the second over the full one
// (its sizes and kinds partly from the caches).
QJsonObject measureSortedRefresh(int pins, int column, int watchSeconds);

// "Not pinned" over `localBlocks` local blocks, of which 100,000 pinned and 60 % indirect.
QJsonObject measureNotPinned(int localBlocks);

// A garbage collection whose report lists `cids` removed CIDs, in the repository window.
QJsonObject measureGcReport(int cids);

// An upload that the node answers with `entries` entries, from the add request to its result box.
QJsonObject measureAddResult(int entries);

// An upload of `cids` files pinned locally and remotely through a service that takes 1 s per request
// and keeps each pin queued for 10 s; a refresh is asked for 3 s into the follow-up.
QJsonObject measureRemoteFollowUp(int cids);
