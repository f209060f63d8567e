#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// The multihash inside a CID's text (CIDv0 "Qm…", CIDv1 in base32 "b…" or base58btc "z…"); empty
// when the text is none of these. Kubo keys blocks by multihash, so two CIDs name the same block
// exactly when their multihashes are equal, whatever their version and codec.
QByteArray multihashOf(const QString& cid);
// The block a CID names, written as Kubo's block listing writes it: CIDv1, raw codec, base32.
QString blockOf(const QString& cid);
QSet<QString> blocksOf(const QStringList& cids);
