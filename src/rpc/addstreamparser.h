#pragma once

#include "ipfsrecords.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// Readers for the newline-delimited JSON that "/add" streams back, one object per line.

// What one line of the stream says.
struct AddStreamLine {
    enum Kind { Ignored, Entry, Error };
    Kind kind = Ignored;
    AddEntry entry; // Entry: the reported object, with a non-empty hash
    QString error; // Error: the node's trimmed "Error" text
};

// Reads one reported object; the hash may be empty ("Size" counts only when sent as text).
AddEntry addEntryFromObject(const QJsonObject& object);

// One line, with or without surrounding white space; blank, non-JSON and non-object lines and
// objects without a hash are Ignored.
AddStreamLine parseAddStreamLine(const QByteArray& line);

// Takes every complete line off the front of buffer and parses it, leaving the unfinished tail.
QList<AddStreamLine> takeAddStreamLines(QByteArray& buffer);
