#pragma once

#include "ipfsrecords.h"

#include <QList>
#include <QStringList>

// The rules that turn the paths a user picked into what one add uploads.

// Existing paths only, absolute, without duplicates, sorted, and none inside another one.
QStringList normalizeLocalPaths(const QStringList& paths);

// One selection per path that still exists, named after its last component and made unique
// within the list ("report.txt", "report.txt-2", ...).
QList<LocalPathSelection> localPathSelections(const QStringList& paths);
