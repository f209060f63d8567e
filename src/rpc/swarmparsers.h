#pragma once

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// Readers for the swarm and bootstrap replies. They take whatever the node sent: a member of
// the wrong type reads as missing, never as an error.

// The first of `keys` whose member is a string that is not blank after trimming, trimmed.
QString firstNonEmptyString(const QJsonObject& object, const QStringList& keys);

// The trimmed, non-empty strings of an array, in order; anything but an array gives none.
QStringList trimmedNonEmptyStrings(const QJsonValue& value);

// "Peers" when it is an array, else "BootstrapPeers" when it is an array.
QStringList parseBootstrapPeers(const QJsonObject& object);

// One entry per connected peer ("Peers"): its address followed by "/p2p/<id>" unless it ends so
// already, or failing that its id; else the entries of "Strings".
QStringList parseSwarmPeers(const QJsonObject& object);

// Peer id -> known addresses, from "Addrs".
QHash<QString, QStringList> parseSwarmAddrs(const QJsonObject& object);
