#pragma once

#include "unpinreport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Which requests one unpin sends, and what their answers mean. No network here: the client sends
// each step and hands back the answer.
//
// A node keys a pin by its exact CID, but a listing made with "upgrade-cidv0-in-output" prints a
// CIDv0 pin in its CIDv1 form, so a listed CID may not be the one the pin is held by. "/pin/rm"
// stops at the first argument it cannot remove, having removed those before it, and says only
// why it stopped. So the plan first finds the form each pin is held by ("/pin/ls" of the forms,
// which also stops at the first one not pinned, but after listing those before it), and removes
// only pins it has found. Lookups stop at each miss, so after a number of misses the plan lists the
// node's pins once instead. Removals go in batches whose request line a node accepts.
class UnpinPlan
{
public:
    enum class PinKind { Unknown, Recursive, Direct };
    struct Target {
        QString cid;
        PinKind kind = PinKind::Unknown;
    };

    struct Step {
        enum Kind { None, Lookup, Listing, Removal } kind = None;
        QString type;     // pin type of a lookup or listing: "recursive" or "direct"
        QStringList args; // CID forms of a lookup or removal, in order
    };

    // Query bytes of the "arg" items of one request: the JavaScript node refuses more than 16 KiB
    // of request line and headers, Kubo more than 1 MiB.
    static constexpr int kMaxArgumentBytes = 12 * 1024;
    // Misses after which one listing of the node's pins is cheaper than looking up one by one.
    static constexpr int kMissesBeforeListing = 32;

    // tryBothCidVersions: a dag-pb CID is looked for as CIDv0 and as CIDv1; otherwise only as given.
    UnpinPlan(const QList<Target>& targets, bool tryBothCidVersions, int indirectLeftOut);

    // The next lookup or listing, and the next removal; None while one of its kind is in flight
    // or none is due.
    Step nextLookup();
    Step nextRemoval();

    // Answers. `listed`: how many of the lookup's arguments the node listed, from the first on;
    // `message`: the node's words when it stopped early; `fatal`: the request failed as a whole
    // (no answer, or a refusal that names no argument), which ends the unpin.
    void lookupAnswered(int listed, const QString& message, bool fatal);
    void listingEntry(const QString& cid, const QString& type);
    void listingAnswered(const QString& message, bool fatal);
    void removalAnswered(bool removed, const QString& message, bool fatal);

    bool finished() const;
    UnpinReport report() const;

private:
    enum class State { Waiting, LookingUp, Found, Removing, Removed, NotPinned, Failed };
    struct Item {
        QString cid;
        QStringList forms; // texts the pin may be held by, canonical where the CID is readable
        QByteArray multihash;
        PinKind kind = PinKind::Unknown;
        quint8 tried = 0; // bit 2 * type + form
        State state = State::Waiting;
        QString heldBy; // the form found
        QString type;   // the type found
        int sameAs = -1; // an earlier item found holding the same pin: this one shares its fate
        QString problem; // the node's words for a lookup that failed for another reason than a miss
    };
    struct Trial {
        int type = -1; // 0 recursive, 1 direct; -1 when every trial was made
        int form = 0;
    };

    Trial nextTrial(const Item& item) const;
    void found(int index, const QString& heldBy, const QString& type);
    void settle(int index, State state, const QString& message = QString());
    void failRemaining(const QString& message);
    void startListing();
    void reverseCheckAnswered(int listed, bool fatal);
    bool lookupsDue() const;
    qsizetype queuedRemovalBytes() const;

    QList<Item> items;
    QList<int> waiting;  // items to look up, in order
    QList<int> removals; // items found, to remove, in order
    QHash<QString, int> foundBy; // held-by form -> the first item found with it
    QList<int> inLookup;
    QList<Trial> lookupTrials;
    QList<int> inRemoval;
    QString removalMessage;
    // A removal that failed part-way: which of its pins went is asked in reverse order.
    QList<int> toCheck;
    bool checkInFlight = false;
    int misses = 0;
    int listingStage = -1; // -1 none; 0 and 1 the recursive and direct listings are due; 2 made
    bool listingInFlight = false;
    QMultiHash<QByteArray, int> listingWanted; // items the listing looks for, by multihash
    bool preferCidV1 = false; // the last found dag-pb pin was held as CIDv1
    int indirectLeftOut = 0;
    QString firstFailure;
};
