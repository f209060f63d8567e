#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// What a "/stats/dht" body reads as: one DHT object, an array of them, or an error text.
struct DhtStatsBody {
    QJsonValue data;
    QString error;
    bool ok = false;
};

// Reads the body as one JSON document, or failing that as one JSON object per line
// (a node may answer either way).
DhtStatsBody parseDhtStatsBody(const QByteArray& body);
