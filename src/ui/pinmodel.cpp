#include "pinmodel.h"

#include "backgroundrelease.h"
#include "offguithread.h"
#include "pinorder.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <thread>
#include <tuple>

namespace {

const QString EmptyPlaceholder = QStringLiteral("\u2014");
const QString PendingPlaceholder = QStringLiteral("\u2026");
const QString RecursiveTypeFilter = QStringLiteral("recursive+direct");

QFont cidFontForDpi(double dpi)
{
    Q_UNUSED(dpi)
    QFont font;
    font.setFamily(QStringLiteral("Courier New"));
    font.setPointSize(12);
    return font;
}

QBrush brushForType(const QString& type)
{
    static const QBrush recursiveBrush(QColor(0x27, 0xae, 0x60), Qt::SolidPattern);
    static const QBrush directBrush(QColor(0x29, 0x80, 0xb9), Qt::SolidPattern);
    static const QBrush indirectBrush(QColor(0x8e, 0x44, 0xad), Qt::SolidPattern);
    static const QBrush invalidBrush;
    if (type == u"recursive")
        return recursiveBrush;
    if (type == u"direct")
        return directBrush;
    if (type == u"indirect")
        return indirectBrush;
    return invalidBrush;
}

PinModel::PinType pinTypeOf(const QString& type)
{
    if (type == u"recursive")
        return PinModel::PinType::Recursive;
    if (type == u"direct")
        return PinModel::PinType::Direct;
    if (type == u"indirect")
        return PinModel::PinType::Indirect;
    return PinModel::PinType::Other;
}

char16_t asciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

// Case-insensitive substring test for an ASCII needle (given lower-cased), without Unicode
// case folding per character; text with any non-ASCII character takes the general test.
bool containsAsciiCaseInsensitive(QStringView haystack, QStringView lowerNeedle)
{
    if (!QtPrivate::isAscii(haystack))
        return haystack.contains(lowerNeedle, Qt::CaseInsensitive);
    const qsizetype needleSize = lowerNeedle.size();
    const qsizetype lastStart = haystack.size() - needleSize;
    const char16_t* text = haystack.utf16();
    const char16_t* needle = lowerNeedle.utf16();
    // An ASCII character c starts a match only if (c | caseBit) is the needle's first character:
    // for a letter both cases do, for anything else only itself.
    const char16_t first = needle[0];
    const char16_t caseBit = first >= u'a' && first <= u'z' ? 0x20 : 0;
    for (qsizetype start = 0; start <= lastStart; ++start) {
        if (char16_t(text[start] | caseBit) != first)
            continue;
        qsizetype k = 1;
        while (k < needleSize && asciiLower(text[start + k]) == needle[k])
            ++k;
        if (k == needleSize)
            return true;
    }
    return false;
}

const QLocale& numberLocale()
{
    static const QLocale locale = QLocale::c();
    return locale;
}

void countType(PinTypeCounts& counts, PinModel::PinType type)
{
    switch (type) {
    case PinModel::PinType::Recursive:
        ++counts.recursive;
        break;
    case PinModel::PinType::Direct:
        ++counts.direct;
        break;
    case PinModel::PinType::Indirect:
        ++counts.indirect;
        break;
    case PinModel::PinType::Other:
        break;
    }
}

} // namespace

PinModel::PinModel(QObject* parent)
    : QAbstractTableModel(parent)
    , resortTimer(new QTimer(this))
{
    resortTimer->setSingleShot(true);
    resortTimer->setInterval(MinResortDelayMs);
    connect(resortTimer, &QTimer::timeout, this, &PinModel::applyPendingSort);
}

int PinModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(pins.size());
}

int PinModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(ColumnCount);
}

// The proxy asks for an index at every comparison while it sorts; skip the generic checks
// that go through rowCount and columnCount.
QModelIndex PinModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= pins.size() || column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

QVariant PinModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= pins.size() || index.column() < 0
        || index.column() >= ColumnCount)
        return {};

    static const QBrush cidBrush(QColor(0x9c, 0xa3, 0xaf), Qt::SolidPattern);
    static const QBrush namePlaceholderBrush(QColor(0xbd, 0xc3, 0xc7), Qt::SolidPattern);

    const int pinIndex = rowToPin.at(index.row());
    const PinEntry& pin = pins.at(pinIndex);
    const bool recursive = rowKeys.at(pinIndex).type == PinType::Recursive;

    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case CidColumn:
            return pin.cid;
        case RefsColumn:
            if (!recursive)
                return EmptyPlaceholder;
            return pin.refsCount >= 0 ? QVariant(pin.refsCount) : QVariant(PendingPlaceholder);
        case TypeColumn:
            return pin.type.isEmpty() ? EmptyPlaceholder : pin.type;
        case KindColumn:
            return pin.kind.isEmpty() ? PendingPlaceholder : pin.kind;
        case DagSizeColumn:
            return pin.dagSize >= 0 ? formatSize(pin.dagSize) : PendingPlaceholder;
        case NameColumn:
            return pin.name.isEmpty() ? EmptyPlaceholder : pin.name;
        }
        break;
    case Qt::FontRole:
        if (index.column() != CidColumn)
            return {};
        if (cidFontDpi < 0) {
            const QScreen* screen = QGuiApplication::primaryScreen();
            cidFontDpi = screen ? screen->logicalDotsPerInch() : 96.0;
            cidFont = cidFontForDpi(cidFontDpi);
        }
        return cidFont;
    case Qt::ForegroundRole:
        switch (index.column()) {
        case CidColumn:
            return cidBrush;
        case RefsColumn:
            return recursive && pin.refsCount >= 0 ? QVariant() : QVariant(namePlaceholderBrush);
        case TypeColumn: {
            const QBrush brush = brushForType(pin.type);
            return brush.style() == Qt::NoBrush ? QVariant() : QVariant(brush);
        }
        case KindColumn:
            return pin.kind.isEmpty() ? QVariant(namePlaceholderBrush) : QVariant();
        case DagSizeColumn:
            return pin.dagSize < 0 ? QVariant(namePlaceholderBrush) : QVariant();
        case NameColumn:
            return pin.name.isEmpty() ? QVariant(namePlaceholderBrush) : QVariant();
        }
        break;
    case Qt::UserRole:
        return pin.cid;
    case SortRole:
        switch (index.column()) {
        case CidColumn:
            return pin.cid;
        case RefsColumn:
            return recursive && pin.refsCount >= 0 ? QVariant(pin.refsCount) : QVariant();
        case TypeColumn:
            return pin.type;
        case KindColumn:
            return pin.kind;
        case DagSizeColumn:
            return pin.dagSize >= 0 ? QVariant(pin.dagSize) : QVariant();
        case NameColumn:
            return pin.name;
        }
        break;
    default:
        break;
    }
    return {};
}

QVariant PinModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case CidColumn:
            return QStringLiteral("CID");
        case RefsColumn:
            return QStringLiteral("Refs");
        case TypeColumn:
            return QStringLiteral("Type");
        case KindColumn:
            return QStringLiteral("Kind");
        case DagSizeColumn:
            return QStringLiteral("Total DAG size");
        case NameColumn:
            return QStringLiteral("Name");
        default:
            return {};
        }
    }
    if (role == Qt::FontRole) {
        if (!headerFontReady) {
            headerFont = QApplication::font();
            headerFont.setWeight(QFont::Bold);
            const int pointSize = headerFont.pointSize();
            headerFont.setPointSize(pointSize < 9 ? 10 : pointSize + 2);
            headerFontReady = true;
        }
        return headerFont;
    }
    return {};
}

Qt::ItemFlags PinModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void PinModel::setPins(const QList<PinEntry>& newPins)
{
    ++preparation;
    preparing = false;
    adopt(prepare(newPins, sortedColumn, sortDirection));
    emit pinsApplied();
}

void PinModel::setPinsInBackground(QList<PinEntry> newPins)
{
    if (newPins.size() < BackgroundPrepareRows) {
        setPins(newPins);
        return;
    }
    const quint64 ticket = ++preparation;
    preparing = true;
    const QPointer<PinModel> model(this);
    runOffGuiThread(
        [rows = std::move(newPins), column = sortedColumn, direction = sortDirection]() mutable {
            return prepare(std::exchange(rows, {}), column, direction);
        },
        [model, ticket](PreparedPins& prepared) {
            if (!model || ticket != model->preparation)
                return;
            model->preparing = false;
            model->adopt(std::exchange(prepared, {}));
            // What follows a load runs in a later turn of the event loop: the window paints and
            // takes input between the rows being swapped in and the work they start.
            QTimer::singleShot(1, model, [model, ticket] {
                if (ticket == model->preparation)
                    emit model->pinsApplied();
            });
        });
}

// Reads the list only, so it may run on any thread; the index of a large list is built on a
// second core while this one sorts.
PinModel::PreparedPins PinModel::prepare(QList<PinEntry> newPins, int column, Qt::SortOrder direction)
{
    PreparedPins prepared;
    prepared.pins = std::move(newPins);
    prepared.column = column;
    prepared.direction = direction;
    const QList<PinEntry>& rows = prepared.pins;
    const int rowTotal = int(rows.size());
    constexpr int kParallelIndexRows = 100000;
    std::thread indexer;
    if (rowTotal >= kParallelIndexRows)
        indexer = std::thread([&prepared, &rows] { prepared.index.rebuild(rows); });
    else
        prepared.index.rebuild(rows);
    prepared.rowKeys.resize(rowTotal);
    for (int row = 0; row < rowTotal; ++row) {
        const PinEntry& pin = rows.at(row);
        prepared.rowKeys[row] = RowKeys { pin.dagSize, pin.refsCount, pinTypeOf(pin.type) };
        countType(prepared.typeCounts, prepared.rowKeys[row].type);
        prepared.knownSizeTotal += qMax<qint64>(pin.dagSize, 0);
    }
    PinOrder(rows, prepared.rowKeys, column, direction, prepared.kindRanks).sortAll(prepared.order, prepared.keys);
    if (indexer.joinable())
        indexer.join();
    return prepared;
}

void PinModel::adopt(PreparedPins prepared)
{
    beginResetModel();
    ++generation;
    releaseRows(std::exchange(pins, std::move(prepared.pins)));
    rowsByCid = std::move(prepared.index);
    rowKeys = std::move(prepared.rowKeys);
    typeCounts = prepared.typeCounts;
    knownSizeTotal = prepared.knownSizeTotal;
    kindRanks = std::move(prepared.kindRanks);
    unsortedPins.clear();
    awaitingSort.fill(false, pins.size());
    resortTimer->stop();
    if (prepared.column != sortedColumn || prepared.direction != sortDirection) {
        // The sort changed while the list was prepared on a worker.
        kindRanks.clear();
        currentOrder().sortAll(prepared.order, prepared.keys);
    }
    setOrderQuietly(std::move(prepared.order), std::move(prepared.keys));
    endResetModel();
}

// Freeing a million rows takes a good part of a second; a refresh should not freeze the window for
// it. Small tables go at once.
void PinModel::releaseRows(QList<PinEntry> oldPins)
{
    constexpr qsizetype kBackgroundReleaseRows = 50000;
    if (oldPins.size() >= kBackgroundReleaseRows && oldPins.isDetached())
        releaseInBackground(std::move(oldPins));
}

// Calls update(row, pin index, pin) for every row of the CID.
template <typename Update> void PinModel::updateRowsOfCid(const QString& cid, Update update)
{
    rowsByCid.forEachRow(
        pins, cid, [&](int pinIndex) { update(pinToRow.at(pinIndex), pinIndex, pins[pinIndex]); });
}

void PinModel::setRefsCount(const QString& cid, int refsCount)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, int pinIndex, PinEntry& pin) {
        if (pin.refsCount == refsCount)
            return;
        pin.refsCount = refsCount;
        rowKeys[pinIndex].refsCount = refsCount;
        noteSortValueChanged(pinIndex, RefsColumn);
        const QModelIndex cell = index(row, RefsColumn);
        emit dataChanged(cell, cell, roles);
    });
}

void PinModel::setDagSize(const QString& cid, qint64 dagSize)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, int pinIndex, PinEntry& pin) {
        if (pin.dagSize == dagSize)
            return;
        knownSizeTotal += qMax<qint64>(dagSize, 0) - qMax<qint64>(pin.dagSize, 0);
        pin.dagSize = dagSize;
        rowKeys[pinIndex].dagSize = dagSize;
        noteSortValueChanged(pinIndex, DagSizeColumn);
        const QModelIndex cell = index(row, DagSizeColumn);
        emit dataChanged(cell, cell, roles);
    });
}

void PinModel::setKind(const QString& cid, const QString& kind)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, int pinIndex, PinEntry& pin) {
        if (pin.kind == kind)
            return;
        pin.kind = kind;
        noteSortValueChanged(pinIndex, KindColumn);
        const QModelIndex cell = index(row, KindColumn);
        emit dataChanged(cell, cell, roles);
    });
}

void PinModel::clear()
{
    ++preparation;
    preparing = false;
    beginResetModel();
    ++generation;
    pins.clear();
    knownSizeTotal = 0;
    rowsByCid.clear();
    rowKeys.clear();
    typeCounts = {};
    rowToPin.clear();
    pinToRow.clear();
    rowSortKeys.clear();
    kindRanks.clear();
    unsortedPins.clear();
    awaitingSort.clear();
    resortTimer->stop();
    endResetModel();
}

const PinEntry* PinModel::pinAt(int row) const
{
    if (row < 0 || row >= pins.size())
        return nullptr;
    return &pins.at(rowToPin.at(row));
}


QStringList PinModel::allCids() const
{
    QStringList cids;
    cids.reserve(pins.size());
    for (const int pinIndex : rowToPin) {
        const QString& cid = pins.at(pinIndex).cid;
        if (!cid.isEmpty())
            cids.append(cid);
    }
    return cids;
}

QStringList PinModel::cidsInListOrder(QStringList room) const
{
    QStringList cids
        = room.size() == pins.size() && room.isDetached() ? std::move(room) : QStringList(pins.size());
    QString* out = cids.data();
    for (const PinEntry& pin : pins)
        *out++ = pin.cid;
    return cids;
}

QString PinModel::formatSize(qint64 bytes)
{
    constexpr qint64 kib = 1024;
    constexpr qint64 mib = kib * 1024;
    constexpr qint64 gib = mib * 1024;
    const QLocale& locale = numberLocale();
    if (bytes < 0)
        return {};
    if (bytes < kib)
        return locale.toString(bytes) + QStringLiteral(" B");
    if (bytes < mib)
        return locale.toString(double(bytes) / double(kib), 'f', 1) + QStringLiteral(" KB");
    if (bytes < gib)
        return locale.toString(double(bytes) / double(mib), 'f', 1) + QStringLiteral(" MB");
    return locale.toString(double(bytes) / double(gib), 'f', 1) + QStringLiteral(" GB");
}

// --- PinFilterProxyModel ---------------------------------------------------------------

PinFilterProxyModel::PinFilterProxyModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(PinModel::SortRole);
}

void PinFilterProxyModel::setSourceModel(QAbstractItemModel* model)
{
    for (const QMetaObject::Connection& connection : std::as_const(pinModelConnections))
        disconnect(connection);
    pinModelConnections.clear();
    pinModel = qobject_cast<PinModel*>(model);
    forgetOutcomes();
    QSortFilterProxyModel::setSourceModel(model);
    if (!pinModel)
        return;
    // Connected after the base class, so these run after its own handlers: the mapping is
    // rebuilt in between, a million rows without a single search.
    pinModelConnections.append(connect(pinModel, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
        // Forgets the outcomes if the filter changed behind our back.
        currentSearch();
        if (filterRole() != Qt::DisplayRole)
            forgetOutcomes();
        rowsMoving = true;
        // The base class re-maps every row in its own handler of the change, before ours: without
        // a search, a row need not even be looked up.
        fixedBeforeMove = { searchFixed, fixedOutcome };
        fixSearch();
    }));
    pinModelConnections.append(connect(pinModel, &QAbstractItemModel::layoutChanged, this, [this] {
        // The base class maps rows lazily: map them while the outcomes hold.
        withSearchFixed([this] { rowCount(); });
        rowsMoving = false;
        std::tie(searchFixed, fixedOutcome) = fixedBeforeMove;
    }));
    // A new load is filtered row by row when the table next asks, inside the base class's own
    // reset handler: the search is decoded before it and holds until the reset is over.
    pinModelConnections.append(
        connect(pinModel, &QAbstractItemModel::modelAboutToBeReset, this, [this] { fixSearch(); }));
    pinModelConnections.append(connect(pinModel, &QAbstractItemModel::modelReset, this, [this] {
        rowCount();
        searchFixed = false;
    }));
}

void PinFilterProxyModel::fixSearch()
{
    const bool searching = !currentSearch().empty;
    fixedOutcome = FixedOutcome::Searched;
    if (!searching && !hideIndirect)
        fixedOutcome = FixedOutcome::AllShown;
    else if (!searching && pinModel && sourceModel() == pinModel && filterRole() == Qt::DisplayRole)
        fixedOutcome = FixedOutcome::IndirectHidden;
    searchFixed = true;
}

template <typename Pass> void PinFilterProxyModel::withSearchFixed(Pass pass)
{
    const bool wasFixed = searchFixed;
    const FixedOutcome outcomeBefore = fixedOutcome;
    fixSearch();
    pass();
    searchFixed = wasFixed;
    fixedOutcome = outcomeBefore;
}

void PinFilterProxyModel::sort(int column, Qt::SortOrder order)
{
    if (pinModel)
        pinModel->sort(column, order);
    else
        QSortFilterProxyModel::sort(column, order);
}

void PinFilterProxyModel::forgetOutcomes() const
{
    outcomeByPin = QList<qint8>();
}

void PinFilterProxyModel::setTypeFilter(const QString& filter)
{
    if (filter == typeFilter)
        return;
    typeFilter = filter;
    hideIndirect = typeFilter == RecursiveTypeFilter;
    forgetOutcomes();
    withSearchFixed([this] { invalidate(); });
}

void PinFilterProxyModel::setSearchMode(SearchMode mode)
{
    if (mode == searchMode)
        return;
    searchMode = mode;
    forgetOutcomes();
    // One pass over all rows: the inherited incremental refilter removes and inserts rows range
    // by range and rebuilds its index after each range, which takes minutes when a search
    // scatters its matches over a million rows.
    withSearchFixed([this] { invalidate(); });
}

void PinFilterProxyModel::setFilterFixedString(const QString& pattern)
{
    QRegularExpression expression = filterRegularExpression();
    expression.setPattern(QRegularExpression::escape(pattern));
    if (expression == filterRegularExpression())
        return;
    // One layout change: the mapping is dropped and rebuilt under the new expression, then the
    // base class takes the expression over; its own passes find each row's outcome recorded
    // and nothing left to change.
    pendingExpression = expression;
    emit layoutAboutToBeChanged();
    {
        const QSignalBlocker blocker(this);
        withSearchFixed([this, &expression] {
            invalidate();
            QSortFilterProxyModel::setFilterRegularExpression(expression);
            rowCount();
        });
    }
    pendingExpression.reset();
    emit layoutChanged();
}

QRegularExpression PinFilterProxyModel::searchExpression() const
{
    return pendingExpression ? *pendingExpression : filterRegularExpression();
}

bool PinFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    // Without a search, a row's type alone decides: no outcome is worth recording.
    if (searchFixed && fixedOutcome == FixedOutcome::AllShown)
        return true;
    if (searchFixed && fixedOutcome == FixedOutcome::IndirectHidden && !sourceParent.isValid()
        && sourceRow >= 0 && sourceRow < pinModel->pinCount()) {
        // Sorted by another column, the rows' types lie all over memory: a table without
        // indirect pins (the combined filter's, always) need not read them.
        return pinModel->countsByType().indirect == 0
            || pinModel->pinTypeAt(sourceRow) != PinModel::PinType::Indirect;
    }
    // The base class evaluates rows more than once while a search is applied, and every row
    // again whenever the model's rows move; a pin's outcome is worked out once.
    if (rowsMoving && pinModel && !sourceParent.isValid() && outcomesGeneration == pinModel->loadGeneration()
        && sourceRow >= 0 && sourceRow < outcomeByPin.size()) {
        const qint8 outcome = outcomeByPin.at(pinModel->pinIndexAt(sourceRow));
        if (outcome >= 0)
            return outcome != 0;
    }
    const bool recordable = pinModel && sourceModel() == pinModel && filterRole() == Qt::DisplayRole
        && !sourceParent.isValid() && sourceRow >= 0 && sourceRow < pinModel->rowCount();
    // A changed expression forgets the outcomes.
    const DecodedSearch& search = searchFixed ? decoded : currentSearch();
    if (!recordable)
        return rowAccepted(sourceRow, sourceParent, search);
    if (outcomesGeneration != pinModel->loadGeneration() || outcomeByPin.size() != pinModel->pinCount()) {
        outcomeByPin.fill(-1, pinModel->pinCount());
        outcomesGeneration = pinModel->loadGeneration();
    }
    qint8& outcome = outcomeByPin[pinModel->pinIndexAt(sourceRow)];
    if (outcome < 0)
        outcome = rowAccepted(sourceRow, sourceParent, search) ? 1 : 0;
    return outcome != 0;
}

bool PinFilterProxyModel::rowAccepted(int sourceRow, const QModelIndex& sourceParent, const DecodedSearch& search) const
{
    const QAbstractItemModel* source = sourceModel();
    if (!source)
        return true;

    // Rows of our own model are read straight from their records; the outcome is the same
    // as reading the display texts, at a fraction of the cost on large tables.
    if (source == pinModel && filterRole() == Qt::DisplayRole && !sourceParent.isValid()) {
        const PinEntry* pin = pinModel->pinAt(sourceRow);
        if (!pin)
            return false;
        if (hideIndirect && pinModel->pinTypeAt(sourceRow) == PinModel::PinType::Indirect)
            return false;
        if (search.empty)
            return true;
        if (searchMode == SearchByCid)
            return searchMatches(search, pin->cid);
        return searchMatches(search, pin->name.isEmpty() ? EmptyPlaceholder : pin->name);
    }

    if (hideIndirect) {
        const QModelIndex typeIndex = source->index(sourceRow, PinModel::TypeColumn, sourceParent);
        if (source->data(typeIndex, Qt::DisplayRole).toString() == u"indirect")
            return false;
    }
    if (search.empty)
        return true;
    const int column = searchMode == SearchByCid ? PinModel::CidColumn : PinModel::NameColumn;
    const QModelIndex textIndex = source->index(sourceRow, column, sourceParent);
    return searchMatches(search, source->data(textIndex, filterRole()).toString());
}

const PinFilterProxyModel::DecodedSearch& PinFilterProxyModel::currentSearch() const
{
    const QRegularExpression expression = searchExpression();
    if (expression == decoded.expression)
        return decoded;

    decoded = DecodedSearch();
    decoded.expression = expression;
    forgetOutcomes();
    const QString pattern = expression.pattern();
    decoded.empty = pattern.isEmpty();
    const QRegularExpression::PatternOptions options = expression.patternOptions();
    decoded.sensitivity
        = (options & QRegularExpression::CaseInsensitiveOption) ? Qt::CaseInsensitive : Qt::CaseSensitive;

    // Undo QRegularExpression::escape; the pattern is a literal exactly when escaping the result
    // gives the pattern back.
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        QChar c = pattern.at(i);
        if (c == u'\\' && i + 1 < pattern.size()) {
            c = pattern.at(++i);
            if (c == u'0')
                c = QChar(QChar::Null);
        }
        decoded.needle.append(c);
    }
    decoded.literal = QRegularExpression::escape(decoded.needle) == pattern
        && !(options & QRegularExpression::ExtendedPatternSyntaxOption);
    const bool ascii = std::all_of(
        decoded.needle.cbegin(), decoded.needle.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (decoded.literal && ascii) {
        for (const QChar c : std::as_const(decoded.needle))
            decoded.asciiLowerNeedle.append(QChar(asciiLower(c.unicode())));
    }
    return decoded;
}

bool PinFilterProxyModel::searchMatches(const DecodedSearch& search, const QString& text)
{
    if (!search.literal)
        return search.expression.match(text).hasMatch();
    if (search.sensitivity == Qt::CaseInsensitive && !search.asciiLowerNeedle.isEmpty())
        return containsAsciiCaseInsensitive(text, search.asciiLowerNeedle);
    return text.contains(search.needle, search.sensitivity);
}
