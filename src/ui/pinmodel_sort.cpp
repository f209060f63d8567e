#include "pinmodel.h"
#include "pinorder.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <utility>

// Sorting reads the rows' values through 64-bit keys where it can: the columns whose values
// arrive while the table is shown (refs, size, kind) are compared as (key, pin index) pairs kept in
// row order, so a merge walks two arrays instead of a million records scattered over memory. Keys
// hold a group in their top bits (known values first, whatever the order) and the value below,
// reversed for a descending sort.

namespace {

constexpr quint64 kGroupSpan = quint64(1) << 62;
constexpr quint64 kValueMask = kGroupSpan - 1;

int compareText(const QString& a, const QString& b)
{
    if (a.isEmpty() != b.isEmpty())
        return a.isEmpty() ? 2 : -2;
    const int order = QString::compare(a, b, Qt::CaseSensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

using KeyedPin = std::pair<quint64, int>;

// The first code units of a text, packed so that comparing the words compares the texts as far
// as they reach (UTF-16 units in order, a shorter text first). Sorting these, side by side in one
// array, reads memory in order; only texts that agree that far are compared whole.
struct TextPrefixKey {
    static constexpr int kUnits = 16;
    quint64 words[kUnits / 4] = {};
    int pin = 0;

    TextPrefixKey(const QString& text, int pin)
        : pin(pin)
    {
        const qsizetype units = std::min<qsizetype>(kUnits, text.size());
        for (qsizetype i = 0; i < units; ++i)
            words[i / 4] |= quint64(text.at(i).unicode()) << (48 - 16 * (i % 4));
    }

    // -1, 0 or 1 as far as the prefixes go.
    int comparePrefix(const TextPrefixKey& other) const
    {
        for (int word = 0; word < kUnits / 4; ++word) {
            if (words[word] != other.words[word])
                return words[word] < other.words[word] ? -1 : 1;
        }
        return 0;
    }
};

} // namespace

PinOrder::PinOrder(const QList<PinEntry>& pins, const QList<PinModel::RowKeys>& rowKeys, int column,
    Qt::SortOrder direction, QMap<QString, quint64>& kindRanks)
    : pins(pins)
    , rowKeys(rowKeys)
    , column(column)
    , direction(direction)
    , kindRanks(kindRanks)
{ }

bool PinOrder::usesKeys(int column)
{
    return column == PinModel::RefsColumn || column == PinModel::KindColumn
        || column == PinModel::DagSizeColumn;
}

quint64 PinOrder::sortKey(int pin)
{
    const auto key = [this](quint64 group, quint64 value) {
        value = std::min(value, kValueMask);
        if (direction == Qt::DescendingOrder)
            value = kValueMask - value;
        return group * kGroupSpan + value;
    };
    const PinModel::RowKeys& keys = rowKeys.at(pin);
    switch (column) {
    case PinModel::RefsColumn:
        // 0: a count, 1: recursive but not counted yet, 2: not a recursive pin.
        if (keys.type != PinModel::PinType::Recursive)
            return key(2, 0);
        return keys.refsCount >= 0 ? key(0, quint64(keys.refsCount)) : key(1, 0);
    case PinModel::DagSizeColumn:
        return keys.dagSize >= 0 ? key(0, quint64(keys.dagSize)) : key(1, 0);
    case PinModel::KindColumn: {
        const QString& kind = pins.at(pin).kind;
        return kind.isEmpty() ? key(1, 0) : key(0, kindRank(kind));
    }
    default:
        return 0;
    }
}

// Kinds are few ("Directory", "File", ...): each gets a number that keeps the order of the texts,
// picked between its neighbours' numbers so that earlier numbers never change.
quint64 PinOrder::kindRank(const QString& kind)
{
    const auto found = kindRanks.constFind(kind);
    if (found != kindRanks.constEnd())
        return *found;
    const auto next = kindRanks.lowerBound(kind);
    const quint64 above = next == kindRanks.constEnd() ? kValueMask : *next;
    const quint64 below = next == kindRanks.constBegin() ? 0 : *std::prev(next);
    if (above - below >= 2)
        return *kindRanks.insert(kind, below + (above - below) / 2);
    // No number left between the neighbours: spread all kinds out again.
    kindRanks.insert(kind, 0);
    quint64 rank = 0;
    const quint64 step = kValueMask / quint64(kindRanks.size() + 1);
    for (auto it = kindRanks.begin(); it != kindRanks.end(); ++it)
        *it = rank += step;
    renumbered = true;
    return kindRanks.value(kind);
}

// The order of the text columns, strict and total: equal texts keep the order the pins were given
// in, in both sort orders. The other columns sort by their keys.
bool PinOrder::sortsBefore(int pinA, int pinB) const
{
    int order = compareText(sortText(pinA), sortText(pinB));
    // ±1 orders two known values, which a descending sort flips; ±2 orders known before unknown.
    if (direction == Qt::DescendingOrder && (order == 1 || order == -1))
        order = -order;
    return order != 0 ? order < 0 : pinA < pinB;
}

void PinOrder::sortAll(QList<int>& order, QList<quint64>& keys)
{
    order.resize(pins.size());
    std::iota(order.begin(), order.end(), 0);
    keys.clear();
    if (column < 0)
        return;
    if (!usesKeys(column)) {
        const auto before = [this](int a, int b) { return sortsBefore(a, b); };
        // Pins arrive sorted by CID: checking costs a fraction of sorting.
        if (!std::is_sorted(order.cbegin(), order.cend(), before))
            sortByText(order);
        return;
    }
    std::vector<KeyedPin> keyed(size_t(pins.size()));
    do {
        renumbered = false;
        for (int pin = 0; pin < pins.size(); ++pin)
            keyed[size_t(pin)] = { sortKey(pin), pin };
    } while (renumbered); // the keys made before a renumbering are stale
    if (!std::is_sorted(keyed.cbegin(), keyed.cend()))
        std::sort(keyed.begin(), keyed.end());
    keys.resize(pins.size());
    for (size_t row = 0; row < keyed.size(); ++row) {
        keys[qsizetype(row)] = keyed[row].first;
        order[qsizetype(row)] = keyed[row].second;
    }
}

const QString& PinOrder::sortText(int pin) const
{
    const PinEntry& entry = pins.at(pin);
    switch (column) {
    case PinModel::TypeColumn:
        return entry.type;
    case PinModel::NameColumn:
        return entry.name;
    default:
        return entry.cid;
    }
}

// The order sortsBefore() gives, reached without chasing every row's text at every comparison:
// empty texts go last in pin order, the others are sorted by their prefix keys.
void PinOrder::sortByText(QList<int>& order) const
{
    std::vector<TextPrefixKey> known;
    known.reserve(size_t(pins.size()));
    QList<int> empty;
    for (int pin = 0; pin < pins.size(); ++pin) {
        const QString& text = sortText(pin);
        if (text.isEmpty())
            empty.append(pin);
        else
            known.emplace_back(text, pin);
    }
    const bool descending = direction == Qt::DescendingOrder;
    std::sort(known.begin(), known.end(), [this, descending](const TextPrefixKey& a, const TextPrefixKey& b) {
        const int byPrefix = a.comparePrefix(b);
        if (byPrefix != 0)
            return descending ? byPrefix > 0 : byPrefix < 0;
        return sortsBefore(a.pin, b.pin);
    });
    qsizetype row = 0;
    for (const TextPrefixKey& key : known)
        order[row++] = key.pin;
    for (const int pin : std::as_const(empty))
        order[row++] = pin;
}

void PinModel::sort(int column, Qt::SortOrder order)
{
    if (column < -1 || column >= ColumnCount)
        return;
    sortedColumn = column;
    sortDirection = order;
    kindRanks.clear();
    forgetPendingSort();
    QList<int> rows;
    QList<quint64> keys;
    currentOrder().sortAll(rows, keys);
    showInOrder(std::move(rows), std::move(keys));
}

PinOrder PinModel::currentOrder()
{
    return PinOrder(pins, rowKeys, sortedColumn, sortDirection, kindRanks);
}

void PinModel::forgetPendingSort()
{
    for (const int pin : std::as_const(unsortedPins))
        awaitingSort[pin] = false;
    unsortedPins.clear();
    resortTimer->stop();
}

void PinModel::noteSortValueChanged(int pin, int column)
{
    if (column != sortedColumn || awaitingSort.at(pin))
        return;
    awaitingSort[pin] = true;
    unsortedPins.append(pin);
    if (!resortTimer->isActive())
        resortTimer->start();
}

// The rows whose values did not change are still in order among themselves: the changed ones
// are sorted on their own and merged in, in one pass over the rows.
void PinModel::applyPendingSort()
{
    resortTimer->stop();
    if (unsortedPins.isEmpty())
        return;
    QElapsedTimer spent;
    spent.start();
    // Views and proxies re-map every row after a move: on a large table that is most of the
    // cost, so the merges there are spaced out to keep them a small share of the time.
    const auto spaceNextMerge = qScopeGuard([this, &spent] {
        resortTimer->setInterval(
            int(qBound(qint64(MinResortDelayMs), 8 * spent.elapsed(), qint64(MaxResortDelayMs))));
    });
    QList<int> moving = std::exchange(unsortedPins, {});
    for (const int pin : std::as_const(moving))
        awaitingSort[pin] = false;

    PinOrder ordering = currentOrder();
    std::vector<KeyedPin> moved;
    moved.reserve(size_t(moving.size()));
    for (const int pin : std::as_const(moving))
        moved.push_back({ ordering.sortKey(pin), pin });
    if (ordering.kindsRenumbered() || rowSortKeys.size() != rowToPin.size()) {
        // The keys of the rows no longer hold: sort everything again (kinds ran out of numbers).
        QList<int> rows;
        QList<quint64> keys;
        ordering.sortAll(rows, keys);
        showInOrder(std::move(rows), std::move(keys));
        return;
    }
    std::sort(moved.begin(), moved.end());

    // Rows of the moving pins, marked by row so that the pass below reads memory in order.
    std::vector<quint8> leaving(size_t(rowToPin.size()), 0);
    for (const int pin : std::as_const(moving))
        leaving[size_t(pinToRow.at(pin))] = 1;

    const qsizetype rowTotal = rowToPin.size();
    QList<int> rows(rowTotal);
    QList<quint64> keys(rowTotal);
    int* rowOut = rows.data();
    quint64* keyOut = keys.data();
    const int* rowIn = rowToPin.constData();
    const quint64* keyIn = rowSortKeys.constData();
    auto next = moved.cbegin();
    const auto end = moved.cend();
    for (qsizetype row = 0; row < rowTotal; ++row) {
        if (leaving[size_t(row)])
            continue;
        const KeyedPin staying { keyIn[row], rowIn[row] };
        for (; next != end && *next < staying; ++next) {
            *keyOut++ = next->first;
            *rowOut++ = next->second;
        }
        *keyOut++ = staying.first;
        *rowOut++ = staying.second;
    }
    for (; next != end; ++next) {
        *keyOut++ = next->first;
        *rowOut++ = next->second;
    }
    if (rows == rowToPin)
        rowSortKeys = std::move(keys);
    else
        showInOrder(std::move(rows), std::move(keys));
}

// Moves the rows to a new order as one layout change; persistent indexes (selection, current
// row, the proxy's mapping) follow their pins.
void PinModel::showInOrder(QList<int> order, QList<quint64> keys)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<int> pinsBefore;
    pinsBefore.reserve(before.size());
    for (const QModelIndex& index : before)
        pinsBefore.append(rowToPin.at(index.row()));
    setOrderQuietly(std::move(order), std::move(keys));
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.append(index(pinToRow.at(pinsBefore.at(i)), before.at(i).column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void PinModel::setOrderQuietly(QList<int> order, QList<quint64> keys)
{
    rowToPin = std::move(order);
    rowSortKeys = std::move(keys);
    pinToRow.resize(rowToPin.size());
    for (int row = 0; row < rowToPin.size(); ++row)
        pinToRow[rowToPin.at(row)] = row;
}
