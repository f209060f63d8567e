#pragma once

#include "fakekubonode.h"
#include "ipfsrecords.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A node's blocks and pins, kept as Kubo keeps them: blocks by multihash only, pins by their
// exact CID (version and codec included). serve() lets a FakeKuboNode answer "/pin/ls",
// "/pin/rm", "/refs/local" and "/refs" from it the way Kubo does, errors included.
class FakePinStore
{
public:
    // A dag-pb block (a file or folder node) with the given links, its digest the SHA-256 of
    // `seed`; returns its CID as CIDv0 or as CIDv1 in base32.
    QString addNode(const QString& seed, int cidVersion, const QStringList& links = {});
    // A raw block (a leaf), which only has a CIDv1.
    QString addRaw(const QString& seed);
    // The CID addNode gives, without adding the block.
    static QString nodeCid(const QString& seed, int cidVersion);
    // The block is gone from the repository: walks that reach it fail.
    void dropBlock(const QString& cid);

    // type is "recursive" or "direct"; the CID is kept exactly as given.
    void pin(const QString& cid, const QString& type = QStringLiteral("recursive"),
        const QString& name = QString());
    bool isPinned(const QString& cid) const; // by the exact CID, whatever its text form
    QStringList pinnedCids() const;           // in the order pinned, as pinned

    // Every pin as the main window's listing shows it: CIDv0 pins in their CIDv1 form.
    QList<PinEntry> listedPins() const;

    void serve(FakeKuboNode& node);

    FakeKuboNode::Response pinLs(const FakeKuboNode::Request& request) const;
    FakeKuboNode::Response pinRm(const FakeKuboNode::Request& request);
    FakeKuboNode::Response refsLocal(const FakeKuboNode::Request& request) const;
    FakeKuboNode::Response refs(const FakeKuboNode::Request& request) const;

private:
    struct Pin {
        QString cid;
        QString type;
        QString name;
        bool removed = false;
    };
    struct Listed {
        QString cid;
        QString type;
        QString name;
        QString root; // of an indirect pin: the recursive pin it is reached from
    };
    int pinIndex(const QString& cid, const QString& type) const;
    // Blocks reachable from the recursive pins, as the links name them; empty `failure` when
    // every block was there.
    QList<Listed> indirectPins(QString* failure) const;

    QHash<QByteArray, QStringList> blocks; // links of each block, by multihash
    QList<QByteArray> blockOrder;
    QList<Pin> pins;
    QHash<QString, int> pinsByKey; // type and canonical CID text -> index in pins
};
