#pragma once

#include "ipfsrecords.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The links of an "/ls" reply, in document order: the "Objects" form (each link carries the
// "Name" of its object as parent) or the flat "Entries" form. On a malformed body the result
// is empty and *error says why; on success *error is left empty. error may be null.
QList<LsEntry> parseLsResponse(const QByteArray& body, QString* error);
