#include "metadataprogress.h"

#include "backgroundrelease.h"

#include <utility>

namespace {

constexpr quint8 kRequested = 1;
constexpr quint8 kSizeKnown = 2;
constexpr quint8 kKindKnown = 4;
constexpr quint8 kSizeFailed = 8;
constexpr quint8 kKindFailed = 16;
constexpr quint8 kRefsFailed = 32;
constexpr quint8 kAnyFailure = kSizeFailed | kKindFailed | kRefsFailed;

bool isRequested(quint8 state)
{
    return state & kRequested;
}

bool isLoaded(quint8 state)
{
    return isRequested(state) && (state & kSizeKnown) && (state & kKindKnown) && !(state & kAnyFailure);
}

bool isSettled(quint8 state)
{
    return isRequested(state) && (state & (kSizeKnown | kSizeFailed)) && (state & (kKindKnown | kKindFailed));
}

bool hasFailed(quint8 state)
{
    return state & kAnyFailure;
}

} // namespace

void MetadataProgress::clear()
{
    // A million CIDs take tens of milliseconds to let go of, at the start of every refresh.
    constexpr qsizetype kBackgroundClearCids = 50000;
    if (states.size() >= kBackgroundClearCids)
        releaseInBackground(std::exchange(states, {}));
    else
        states.clear();
    requestedCount = 0;
    loadedCount = 0;
    settledCount = 0;
    failedCount = 0;
}

void MetadataProgress::request(const QString& cid)
{
    change(cid, kRequested, 0, false);
}

void MetadataProgress::setSize(const QString& cid, bool known)
{
    change(cid, known ? kSizeKnown : kSizeFailed, known ? kSizeFailed : kSizeKnown, true);
}

void MetadataProgress::setKind(const QString& cid, bool known)
{
    change(cid, known ? kKindKnown : kKindFailed, known ? kKindFailed : kKindKnown, true);
}

void MetadataProgress::setRefsFailed(const QString& cid)
{
    change(cid, kRefsFailed, 0, false);
}

void MetadataProgress::change(const QString& cid, quint8 set, quint8 cleared, bool onlyRequested)
{
    auto found = states.find(cid);
    const quint8 before = found == states.end() ? 0 : *found;
    if (onlyRequested && !isRequested(before))
        return;
    const quint8 after = quint8((before | set) & ~cleared);
    if (after == before)
        return;
    if (found == states.end())
        found = states.insert(cid, after);
    else
        *found = after;
    requestedCount += int(isRequested(after)) - int(isRequested(before));
    loadedCount += int(isLoaded(after)) - int(isLoaded(before));
    settledCount += int(isSettled(after)) - int(isSettled(before));
    failedCount += int(hasFailed(after)) - int(hasFailed(before));
}
