#pragma once

#include "ipfsrecords.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Readers of the remote pinning replies; they need no network, so tests and fuzzers call them directly.

// The trimmed "Error" text of a body that is a JSON object; empty for anything else.
QString remoteReplyErrorText(const QByteArray& body);

struct RemoteServicesReading {
    bool ok = false;
    QList<RemoteServiceEntry> services; // in the node's order; entries without a nickname are left out
    QStringList unreachable; // nicknames whose "Stat" the node gives as "invalid" (listing with stat)
    QString error; // the user-facing text when not ok
};

// Reads a "/pin/remote/service/ls" body.
RemoteServicesReading readRemoteServicesBody(const QByteArray& body);

struct RemotePinStatusReading {
    bool ok = false;
    QString status; // lower case; "unknown" without a status text, "not-found" when the CID is not listed
    QString error; // the detail after "Remote pin status failed for <cid>: " when not ok
};

// Reads a "/pin/remote/ls" body (one pin object per line, or the pins listed under "Pins") and
// picks the status of the first entry for cid; an empty body lists no pin.
RemotePinStatusReading readRemotePinStatusBody(const QByteArray& body, const QString& cid);

struct RemotePinStatusesReading {
    bool ok = false;
    QHash<QString, QString> statusByCid; // every CID listed: its first entry's status, as above
    QString error;
};

// The same for an answer about several CIDs at once.
RemotePinStatusesReading readRemotePinStatusesBody(const QByteArray& body);
