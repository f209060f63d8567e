#pragma once

#include "ipfsrecords.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// Request arguments and reply readers of the IPNS operations; no network involved.

// The path to publish, trimmed; anything not already an "/ipfs/" or "/ipns/" path is taken as
// "/ipfs/<cid>[/sub/path]". Empty stays empty.
QString ipnsPublishPath(const QString& path);
// The key to publish under, trimmed; "self" when empty.
QString ipnsPublishKey(const QString& key);
// The name to resolve, trimmed and "/ipns/"-prefixed. Empty stays empty.
QString ipnsResolveName(const QString& name);

// "/key/list": keys in reply order; entries without a name are dropped.
QList<IpnsKeyEntry> parseIpnsKeys(const QJsonObject& reply);
// "/name/publish": key is what was sent, name and value come from the reply.
IpnsPublishResult parseIpnsPublishResult(const QJsonObject& reply, const QString& key);
// "/name/resolve": name is what was sent, path comes from the reply.
IpnsResolveResult parseIpnsResolveResult(const QJsonObject& reply, const QString& name);
