#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

// Plain value records that travel between the client and the windows.

struct PinEntry {
    QString cid;
    QString type;
    QString name;
    QString kind;
    int refsCount = -1;
    qint64 dagSize = -1;
};
// Lists of a million pins grow and shrink by moving memory, not entry by entry.
Q_DECLARE_TYPEINFO(PinEntry, Q_RELOCATABLE_TYPE);

struct LsEntry {
    QString name;
    QString parent;
    QString hash;
    qint64 size = 0;
    int type = 0;
};

struct AddEntry {
    QString name;
    QString hash;
    qint64 size = 0;
};

struct AddOptions {
    bool wrapWithDirectory = true;
    bool pin = true;
    bool onlyHash = false;
    int cidVersion = 1;
    QString pinDestination = QStringLiteral("local");
    QString remoteServiceNickname;
    QString remoteLabel;
    bool unpinLocalAfterRemote = false;
};

struct LocalPathSelection {
    QString localPath;
    QString name;
    bool isDirectory = false;
};

struct RemoteServiceEntry {
    QString name;
    QString endpoint;
};

struct IpnsKeyEntry {
    QString name;
    QString id;
};

struct IpnsPublishResult {
    QString key;
    QString name;
    QString value;
};

struct IpnsResolveResult {
    QString name;
    QString path;
};

struct KuboReplyResult {
    QByteArray body;
    QJsonObject json;
    QString error;
    bool ok = false;
};

struct ParsedPinsPayload {
    QList<PinEntry> pins;
    int total = 0;
};

Q_DECLARE_METATYPE(PinEntry)
Q_DECLARE_METATYPE(LsEntry)
Q_DECLARE_METATYPE(AddEntry)
Q_DECLARE_METATYPE(RemoteServiceEntry)
Q_DECLARE_METATYPE(IpnsKeyEntry)
Q_DECLARE_METATYPE(IpnsPublishResult)
Q_DECLARE_METATYPE(IpnsResolveResult)
