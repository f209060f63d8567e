#include "unpinplan.h"

#include "cidtext.h"

#include <QSet>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString kTypeNames[2] = { u"recursive"_s, u"direct"_s };

quint8 trialBit(int type, int form)
{
    return quint8(1u << (2 * type + form));
}

qsizetype argumentBytes(const QString& form)
{
    return form.size() + 5; // "arg=" and "&"
}

// The node's words for a CID it holds no pin for, in lookups ("path '…' is not pinned") and
// removals ("not pinned or pinned indirectly"). A lookup that stopped without saying why stopped
// at a CID not pinned: it only stops for that or for a CID it cannot read, and says so.
bool saysNotPinned(const QString& message)
{
    return message.isEmpty() || message.contains("not pinned"_L1);
}

} // namespace

UnpinPlan::UnpinPlan(const QList<Target>& targets, bool tryBothCidVersions, int indirectLeftOut)
    : indirectLeftOut(indirectLeftOut)
{
    QSet<QString> seen;
    for (const Target& target : targets) {
        const QString cid = target.cid.trimmed();
        if (cid.isEmpty() || seen.contains(cid))
            continue;
        seen.insert(cid);
        Item item;
        item.cid = cid;
        item.kind = target.kind;
        const CidParts parts = decodeCid(cid);
        if (!parts.isValid()) {
            // The node may read a form this program does not; it will say if it cannot.
            item.forms = QStringList { cid };
        } else {
            item.multihash = parts.multihash;
            const QString v0 = parts.codec == kDagPbCodec ? cidV0Text(parts.multihash) : QString();
            const QString v1 = cidV1Text(parts.codec, parts.multihash);
            if (tryBothCidVersions && !v0.isEmpty())
                item.forms = QStringList { v0, v1 };
            else
                item.forms = QStringList { parts.version == 0 ? v0 : v1 };
        }
        waiting.append(int(items.size()));
        items.append(item);
    }
}

UnpinPlan::Trial UnpinPlan::nextTrial(const Item& item) const
{
    const int types[2] = { item.kind == PinKind::Direct ? 1 : 0, item.kind == PinKind::Direct ? 0 : 1 };
    const bool v1First = item.forms.size() == 2 && preferCidV1;
    for (const int type : types) {
        for (int i = 0; i < item.forms.size(); ++i) {
            const int form = v1First ? 1 - i : i;
            if (!(item.tried & trialBit(type, form)))
                return { type, form };
        }
    }
    return {};
}

UnpinPlan::Step UnpinPlan::nextLookup()
{
    Step step;
    if (checkInFlight || !inLookup.isEmpty() || listingInFlight)
        return step;

    if (!toCheck.isEmpty()) {
        // Listed from the last on: the first one missing is where the removal stopped.
        step.kind = Step::Lookup;
        step.type = items.at(toCheck.first()).type;
        for (auto it = toCheck.crbegin(); it != toCheck.crend(); ++it)
            step.args.append(items.at(*it).heldBy);
        checkInFlight = true;
        return step;
    }

    if (listingStage < 0 && misses >= kMissesBeforeListing && !waiting.isEmpty())
        startListing();
    if (listingStage == 0 || listingStage == 1) {
        step.kind = Step::Listing;
        step.type = kTypeNames[listingStage];
        listingInFlight = true;
        return step;
    }
    if (waiting.isEmpty())
        return step;

    // One type per lookup; the items of the other type wait for the next one.
    const int type = nextTrial(items.at(waiting.first())).type;
    qsizetype bytes = 0;
    QList<int> rest;
    for (const int index : std::as_const(waiting)) {
        Item& item = items[index];
        const Trial trial = nextTrial(item);
        const qsizetype cost = argumentBytes(item.forms.at(trial.form));
        if (trial.type != type || (bytes + cost > kMaxArgumentBytes && !inLookup.isEmpty())) {
            rest.append(index);
            continue;
        }
        bytes += cost;
        item.state = State::LookingUp;
        inLookup.append(index);
        lookupTrials.append(trial);
        step.args.append(item.forms.at(trial.form));
    }
    waiting = rest;
    step.kind = Step::Lookup;
    step.type = kTypeNames[type];
    return step;
}

void UnpinPlan::startListing()
{
    // Readable CIDs are found in the listing; others stay with the lookups.
    QList<int> rest;
    for (const int index : std::as_const(waiting)) {
        Item& item = items[index];
        if (item.multihash.isEmpty()) {
            rest.append(index);
            continue;
        }
        item.state = State::LookingUp;
        listingWanted.insert(item.multihash, index);
    }
    waiting = rest;
    listingStage = listingWanted.isEmpty() ? 2 : 0;
}

void UnpinPlan::lookupAnswered(int listed, const QString& message, bool fatal)
{
    if (checkInFlight) {
        reverseCheckAnswered(listed, fatal);
        return;
    }
    const QList<int> batch = std::exchange(inLookup, {});
    const QList<Trial> trials = std::exchange(lookupTrials, {});
    if (fatal) {
        for (const int index : batch)
            items[index].state = State::Waiting;
        waiting = batch + waiting;
        failRemaining(message);
        return;
    }
    QList<int> again;
    for (int k = 0; k < batch.size(); ++k) {
        const int index = batch.at(k);
        Item& item = items[index];
        const Trial trial = trials.at(k);
        if (k < listed) {
            item.tried |= trialBit(trial.type, trial.form);
            found(index, item.forms.at(trial.form), kTypeNames[trial.type]);
            continue;
        }
        item.state = State::Waiting;
        if (k == listed) {
            item.tried |= trialBit(trial.type, trial.form);
            ++misses;
            if (!saysNotPinned(message))
                item.problem = message;
            if (nextTrial(item).type < 0) {
                if (item.problem.isEmpty())
                    settle(index, State::NotPinned);
                else
                    settle(index, State::Failed, item.problem);
                continue;
            }
        }
        again.append(index);
    }
    waiting = again + waiting;
}

void UnpinPlan::listingEntry(const QString& cid, const QString& type)
{
    const CidParts parts = decodeCid(cid);
    if (!parts.isValid() || !listingWanted.contains(parts.multihash))
        return;
    const QString heldBy = parts.version == 0 ? cidV0Text(parts.multihash) : cidV1Text(parts.codec, parts.multihash);
    const QList<int> wanted = listingWanted.values(parts.multihash);
    for (const int index : wanted) {
        if (items.at(index).state == State::LookingUp && items.at(index).forms.contains(heldBy))
            found(index, heldBy, type);
    }
}

void UnpinPlan::listingAnswered(const QString& message, bool fatal)
{
    listingInFlight = false;
    if (fatal) {
        failRemaining(message);
        return;
    }
    if (++listingStage < 2)
        return;
    for (auto it = listingWanted.cbegin(); it != listingWanted.cend(); ++it) {
        if (items.at(it.value()).state == State::LookingUp)
            settle(it.value(), State::NotPinned);
    }
    listingWanted.clear();
}

void UnpinPlan::found(int index, const QString& heldBy, const QString& type)
{
    Item& item = items[index];
    item.heldBy = heldBy;
    item.type = type;
    item.state = State::Found;
    if (item.forms.size() == 2)
        preferCidV1 = heldBy == item.forms.at(1);
    // Two texts of the same pin: it is removed once, and both share the outcome.
    const auto first = foundBy.constFind(heldBy);
    if (first != foundBy.constEnd()) {
        item.sameAs = *first;
        return;
    }
    foundBy.insert(heldBy, index);
    removals.append(index);
}

UnpinPlan::Step UnpinPlan::nextRemoval()
{
    Step step;
    if (!inRemoval.isEmpty() || removals.isEmpty())
        return step;
    // While lookups go on, remove only full batches.
    if (lookupsDue() && queuedRemovalBytes() < kMaxArgumentBytes)
        return step;

    const QString type = items.at(removals.first()).type;
    qsizetype bytes = 0;
    QList<int> rest;
    for (const int index : std::as_const(removals)) {
        Item& item = items[index];
        const qsizetype cost = argumentBytes(item.heldBy);
        if (item.type != type || (bytes + cost > kMaxArgumentBytes && !inRemoval.isEmpty())) {
            rest.append(index);
            continue;
        }
        bytes += cost;
        item.state = State::Removing;
        inRemoval.append(index);
        step.args.append(item.heldBy);
    }
    removals = rest;
    step.kind = Step::Removal;
    step.type = type;
    return step;
}

void UnpinPlan::removalAnswered(bool removed, const QString& message, bool fatal)
{
    const QList<int> batch = std::exchange(inRemoval, {});
    if (removed) {
        for (const int index : batch)
            settle(index, State::Removed);
        return;
    }
    if (fatal) {
        for (const int index : batch)
            settle(index, State::Failed, message);
        failRemaining(message);
        return;
    }
    if (batch.size() == 1) {
        settle(batch.first(), saysNotPinned(message) ? State::NotPinned : State::Failed, message);
        return;
    }
    toCheck = batch;
    removalMessage = message;
}

void UnpinPlan::reverseCheckAnswered(int listed, bool fatal)
{
    checkInFlight = false;
    const QList<int> batch = std::exchange(toCheck, {});
    if (fatal) {
        for (const int index : batch)
            settle(index, State::Failed, removalMessage);
        return;
    }
    // The last `listed` are still pinned. The node removed every pin before the one it stopped
    // at: that one is the last gone when it was not pinned, else the first still pinned.
    const int count = int(batch.size());
    const int lastGone = count - qBound(0, listed, count) - 1;
    const bool notPinned = saysNotPinned(removalMessage);
    const int stoppedAt = qBound(0, notPinned ? lastGone : lastGone + 1, count - 1);
    for (int k = 0; k < stoppedAt; ++k)
        settle(batch.at(k), State::Removed);
    settle(batch.at(stoppedAt), notPinned ? State::NotPinned : State::Failed, removalMessage);
    QList<int> again;
    for (int k = stoppedAt + 1; k < count; ++k) {
        items[batch.at(k)].state = State::Found;
        again.append(batch.at(k));
    }
    removals = again + removals;
}

void UnpinPlan::settle(int index, State state, const QString& message)
{
    items[index].state = state;
    if (state == State::Failed && firstFailure.isEmpty())
        firstFailure = message;
}

void UnpinPlan::failRemaining(const QString& message)
{
    for (int index = 0; index < items.size(); ++index) {
        const State state = items.at(index).state;
        const bool open = state == State::Waiting || state == State::LookingUp || state == State::Found
            || state == State::Removing;
        if (open && items.at(index).sameAs < 0)
            settle(index, State::Failed, message);
    }
    waiting.clear();
    removals.clear();
    inLookup.clear();
    lookupTrials.clear();
    toCheck.clear();
    checkInFlight = false;
    listingWanted.clear();
    listingStage = 2;
}

bool UnpinPlan::lookupsDue() const
{
    return !waiting.isEmpty() || !inLookup.isEmpty() || listingInFlight || listingStage == 0
        || listingStage == 1 || !toCheck.isEmpty() || checkInFlight;
}

qsizetype UnpinPlan::queuedRemovalBytes() const
{
    qsizetype bytes = 0;
    for (const int index : removals) {
        bytes += argumentBytes(items.at(index).heldBy);
        if (bytes >= kMaxArgumentBytes)
            break;
    }
    return bytes;
}

bool UnpinPlan::finished() const
{
    return !lookupsDue() && removals.isEmpty() && inRemoval.isEmpty();
}

UnpinReport UnpinPlan::report() const
{
    UnpinReport report;
    report.indirectLeftOut = indirectLeftOut;
    report.failure = firstFailure;
    for (const Item& item : items) {
        const State state = item.sameAs >= 0 ? items.at(item.sameAs).state : item.state;
        if (state == State::Removed)
            report.removed.append(item.cid);
        else if (state == State::NotPinned)
            report.notPinned.append(item.cid);
        else
            report.failed.append(item.cid);
    }
    return report;
}
