#include "fakepinstore.h"

#include "cidtext.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

QByteArray sha256Multihash(const QString& seed)
{
    return QByteArray("\x12\x20", 2) + QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha256);
}

// An argument as the node resolves it: a CID, also under "/ipfs/".
CidParts argumentCid(const QString& argument)
{
    return decodeCid(argument.startsWith("/ipfs/"_L1) ? QStringView(argument).mid(6) : QStringView(argument));
}

// A CID as the node prints it: CIDv1 in base32, CIDv0 as it is unless the request asked for
// another base ("cid-base" alone upgrades it too) or for the upgrade.
QString printed(const QString& cid, bool upgradeV0)
{
    const CidParts parts = decodeCid(cid);
    if (!parts.isValid())
        return cid;
    if (parts.version == 0 && !upgradeV0)
        return cidV0Text(parts.multihash);
    return cidV1Text(parts.codec, parts.multihash);
}

bool upgradesV0(const FakeKuboNode::Request& request)
{
    return !request.queryValue(u"cid-base"_s).isEmpty()
        || request.queryValue(u"upgrade-cidv0-in-output"_s) == "true"_L1;
}

bool flag(const FakeKuboNode::Request& request, const QString& name, bool byDefault)
{
    const QString value = request.queryValue(name);
    return value.isEmpty() ? byDefault : value == "true"_L1;
}

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Lines printed so far, then the failure: before any output an error answer, after it the trailer.
FakeKuboNode::Response streamedOrFailed(const QList<QByteArray>& lines, const QString& failure)
{
    if (failure.isEmpty())
        return FakeKuboNode::streamed(lines);
    if (lines.isEmpty())
        return FakeKuboNode::kuboError(failure);
    return FakeKuboNode::streamFailure(lines, failure.toUtf8());
}

QByteArray jsonString(const QString& text)
{
    return QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact).chopped(1).mid(1);
}

// {"Ref":…,"Err":…}, members in the node's order.
QByteArray refLine(const QString& ref, const QString& error)
{
    return "{\"Ref\":" + jsonString(ref) + ",\"Err\":" + jsonString(error) + "}\n";
}

QString notFoundText(const QString& cid)
{
    return u"block was not found locally (offline): ipld: could not find %1"_s.arg(cid);
}

} // namespace

QString FakePinStore::nodeCid(const QString& seed, int cidVersion)
{
    const QByteArray multihash = sha256Multihash(seed);
    return cidVersion == 0 ? cidV0Text(multihash) : cidV1Text(kDagPbCodec, multihash);
}

QString FakePinStore::addNode(const QString& seed, int cidVersion, const QStringList& links)
{
    const QByteArray multihash = sha256Multihash(seed);
    if (!blocks.contains(multihash))
        blockOrder.append(multihash);
    blocks.insert(multihash, links);
    return nodeCid(seed, cidVersion);
}

QString FakePinStore::addRaw(const QString& seed)
{
    const QByteArray multihash = sha256Multihash(seed);
    if (!blocks.contains(multihash))
        blockOrder.append(multihash);
    blocks.insert(multihash, {});
    return cidV1Text(kRawCodec, multihash);
}

void FakePinStore::dropBlock(const QString& cid)
{
    const QByteArray multihash = cidMultihash(cid);
    blocks.remove(multihash);
    blockOrder.removeAll(multihash);
}

namespace {

// One text per CID, whatever form it was written in.
QString pinKey(const QString& type, const CidParts& cid)
{
    const QString text = cid.version == 0 ? cidV0Text(cid.multihash) : cidV1Text(cid.codec, cid.multihash);
    return type + u'\n' + text;
}

} // namespace

void FakePinStore::pin(const QString& cid, const QString& type, const QString& name)
{
    pinsByKey.insert(pinKey(type, decodeCid(cid)), int(pins.size()));
    pins.append({ cid, type, name });
}

int FakePinStore::pinIndex(const QString& cid, const QString& type) const
{
    const CidParts wanted = argumentCid(cid);
    return wanted.isValid() ? pinsByKey.value(pinKey(type, wanted), -1) : -1;
}

bool FakePinStore::isPinned(const QString& cid) const
{
    return pinIndex(cid, u"recursive"_s) >= 0 || pinIndex(cid, u"direct"_s) >= 0;
}

QStringList FakePinStore::pinnedCids() const
{
    QStringList cids;
    for (const Pin& pin : pins) {
        if (!pin.removed)
            cids.append(pin.cid);
    }
    return cids;
}

QList<PinEntry> FakePinStore::listedPins() const
{
    QList<PinEntry> entries;
    for (const Pin& pin : pins) {
        if (pin.removed)
            continue;
        PinEntry entry;
        entry.cid = printed(pin.cid, true);
        entry.type = pin.type;
        entry.name = pin.name;
        entries.append(entry);
    }
    return entries;
}

QList<FakePinStore::Listed> FakePinStore::indirectPins(QString* failure) const
{
    QList<Listed> found;
    QSet<QString> seen; // exact CIDs, as the node's walk tells blocks apart
    for (const Pin& pin : pins) {
        if (pin.type == "recursive"_L1 && !pin.removed)
            seen.insert(printed(pin.cid, true));
    }
    for (const Pin& pin : pins) {
        if (pin.type != "recursive"_L1 || pin.removed)
            continue;
        QStringList toVisit { pin.cid };
        while (!toVisit.isEmpty()) {
            const QString cid = toVisit.takeLast();
            const auto block = blocks.constFind(cidMultihash(cid));
            if (block == blocks.constEnd()) {
                *failure = notFoundText(cid);
                return found;
            }
            for (const QString& link : *block) {
                const QString key = printed(link, true);
                if (seen.contains(key))
                    continue;
                seen.insert(key);
                found.append({ link, u"indirect"_s, QString(), pin.cid });
                toVisit.append(link);
            }
        }
    }
    return found;
}

FakeKuboNode::Response FakePinStore::pinLs(const FakeKuboNode::Request& request) const
{
    const QString type = request.queryValue(u"type"_s).isEmpty() ? u"all"_s : request.queryValue(u"type"_s);
    const bool upgrade = upgradesV0(request);
    const bool withNames = flag(request, u"names"_s, false);
    const QStringList arguments = request.queryValues(u"arg"_s);

    QList<Listed> listed;
    QString failure;
    if (arguments.isEmpty()) {
        for (const Pin& pin : pins) {
            if (!pin.removed && (pin.type == type || type == "all"_L1))
                listed.append({ pin.cid, pin.type, pin.name, QString() });
        }
        if (type == "all"_L1 || type == "indirect"_L1)
            listed.append(indirectPins(&failure));
    } else {
        // Each argument in turn; the first one not pinned as asked ends the answer.
        QString walkFailure;
        const QList<Listed> indirect
            = type == "all"_L1 || type == "indirect"_L1 ? indirectPins(&walkFailure) : QList<Listed>();
        for (const QString& argument : arguments) {
            if (!argumentCid(argument).isValid()) {
                failure = u"invalid path \"%1\": invalid cid"_s.arg(argument);
                break;
            }
            int index = -1;
            for (const QString& candidate : { u"recursive"_s, u"direct"_s }) {
                if (index < 0 && (type == candidate || type == "all"_L1)) {
                    index = pinIndex(argument, candidate);
                    if (index >= 0)
                        listed.append({ argument, candidate, pins.at(index).name, QString() });
                }
            }
            if (index < 0) {
                for (const Listed& entry : indirect) {
                    if (index < 0 && decodeCid(entry.cid) == argumentCid(argument)) {
                        listed.append({ argument, u"indirect through %1"_s.arg(entry.root), QString(), QString() });
                        index = 0;
                    }
                }
            }
            if (index < 0) {
                failure = u"path '%1' is not pinned"_s.arg(argument);
                break;
            }
        }
    }

    if (request.queryValue(u"stream"_s) != "true"_L1) {
        if (!failure.isEmpty())
            return FakeKuboNode::kuboError(failure);
        QJsonObject keys;
        for (const Listed& entry : std::as_const(listed))
            keys.insert(printed(entry.cid, upgrade), QJsonObject { { u"Type"_s, entry.type }, { u"Name"_s, entry.name } });
        return FakeKuboNode::json(line(QJsonObject { { u"Keys"_s, keys } }));
    }
    QList<QByteArray> lines;
    for (const Listed& entry : std::as_const(listed)) {
        QJsonObject object { { u"Cid"_s, printed(entry.cid, upgrade) }, { u"Type"_s, entry.type } };
        if (withNames && !entry.name.isEmpty())
            object.insert(u"Name"_s, entry.name);
        lines.append(line(object));
    }
    return streamedOrFailed(lines, failure);
}

FakeKuboNode::Response FakePinStore::pinRm(const FakeKuboNode::Request& request)
{
    const bool recursive = flag(request, u"recursive"_s, true);
    QJsonArray removed;
    // Removed one by one: those before the first failure stay removed, and only the failure is told.
    for (const QString& argument : request.queryValues(u"arg"_s)) {
        if (!argumentCid(argument).isValid())
            return FakeKuboNode::kuboError(u"invalid path \"%1\": invalid cid"_s.arg(argument));
        int index = pinIndex(argument, u"recursive"_s);
        if (index >= 0 && !recursive)
            return FakeKuboNode::kuboError(u"%1 is pinned recursively"_s.arg(printed(argument, false)));
        if (index < 0)
            index = pinIndex(argument, u"direct"_s);
        if (index < 0)
            return FakeKuboNode::kuboError(u"not pinned or pinned indirectly"_s);
        removed.append(printed(pins.at(index).cid, upgradesV0(request)));
        pins[index].removed = true;
        pinsByKey.remove(pinKey(pins.at(index).type, decodeCid(pins.at(index).cid)));
    }
    return FakeKuboNode::json(line(QJsonObject { { u"Pins"_s, removed } }));
}

FakeKuboNode::Response FakePinStore::refsLocal(const FakeKuboNode::Request&) const
{
    // The blockstore keeps multihashes only: every block comes out as a raw CIDv1.
    QList<QByteArray> lines;
    for (const QByteArray& multihash : blockOrder)
        lines.append(refLine(cidV1Text(kRawCodec, multihash), QString()));
    return FakeKuboNode::streamed(lines);
}

FakeKuboNode::Response FakePinStore::refs(const FakeKuboNode::Request& request) const
{
    const bool recursive = flag(request, u"recursive"_s, false);
    const bool unique = flag(request, u"unique"_s, false);
    QList<QByteArray> lines;
    QSet<QString> seen; // one set for the whole request, as the node keeps it

    for (const QString& argument : request.queryValues(u"arg"_s)) {
        if (!argumentCid(argument).isValid())
            return FakeKuboNode::kuboError(u"invalid path \"%1\": invalid cid"_s.arg(argument));
        // Depth first, every link each time it is reached unless asked for unique refs; a
        // missing block ends this argument's walk with an error line.
        std::function<bool(const QString&)> walk = [&](const QString& cid) {
            const auto block = blocks.constFind(argumentCid(cid).multihash);
            if (block == blocks.constEnd()) {
                lines.append(refLine(QString(), notFoundText(printed(cid, false))));
                return false;
            }
            for (const QString& link : *block) {
                const QString text = printed(link, false);
                if (unique && seen.contains(text))
                    continue;
                seen.insert(text);
                lines.append(refLine(text, QString()));
                if (recursive && !walk(link))
                    return false;
            }
            return true;
        };
        walk(argument);
    }
    return FakeKuboNode::streamed(lines);
}

void FakePinStore::serve(FakeKuboNode& node)
{
    node.route(u"/pin/ls"_s, [this](const FakeKuboNode::Request& request) { return pinLs(request); });
    node.route(u"/pin/rm"_s, [this](const FakeKuboNode::Request& request) { return pinRm(request); });
    node.route(u"/refs/local"_s, [this](const FakeKuboNode::Request& request) { return refsLocal(request); });
    node.route(u"/refs"_s, [this](const FakeKuboNode::Request& request) { return refs(request); });
}
