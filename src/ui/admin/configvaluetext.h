#pragma once

#include <QJsonValue>
#include <QString>

// Conversions between config values and the texts the config editor shows and reads.
// No widgets and no network, so tests and fuzzers call them directly.

// Parses text that holds exactly one JSON value of any type (object, array, string, number,
// true, false, null). Returns false, leaving out untouched, for anything else.
bool parseJsonValueText(const QString& text, QJsonValue* out);

// The value as the config tree shows it: numbers with 6 significant digits, strings without
// quotes, null and undefined as an empty cell, objects and arrays as an empty cell.
QString jsonValueToDisplayString(const QJsonValue& value);

// The value on one line for the value edit: objects and arrays as compact JSON, strings without
// quotes, null as "null", undefined as empty text. Numbers keep every digit, so that reading a
// key and writing it back does not change it.
QString jsonValueToCompactString(const QJsonValue& value);

// The value as compact JSON text, strings quoted and numbers without loss of digits.
QString jsonValueToJsonText(const QJsonValue& value);

// Keys whose change may cut the RPC connection or the node's networking.
bool isRiskyConfigKey(const QString& key);
