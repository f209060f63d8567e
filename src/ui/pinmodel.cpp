#include "pinmodel.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>

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
// case folding per character; any non-ASCII character it meets hands over to the general test.
bool containsAsciiCaseInsensitive(QStringView haystack, QStringView lowerNeedle)
{
    const qsizetype needleSize = lowerNeedle.size();
    const qsizetype lastStart = haystack.size() - needleSize;
    const char16_t* text = haystack.utf16();
    const char16_t* needle = lowerNeedle.utf16();
    for (qsizetype start = 0; start <= lastStart; ++start) {
        if (text[start] >= 0x80)
            return haystack.contains(lowerNeedle, Qt::CaseInsensitive);
        if (asciiLower(text[start]) != needle[0])
            continue;
        qsizetype k = 1;
        for (; k < needleSize; ++k) {
            const char16_t c = text[start + k];
            if (c >= 0x80)
                return haystack.contains(lowerNeedle, Qt::CaseInsensitive);
            if (asciiLower(c) != needle[k])
                break;
        }
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

} // namespace

PinModel::PinModel(QObject* parent)
    : QAbstractTableModel(parent)
{ }

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

    const PinEntry& pin = pins.at(index.row());
    const bool recursive = rowKeys.at(index.row()).type == PinType::Recursive;

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
    beginResetModel();
    pins = newPins;
    const int rowTotal = int(pins.size());
    rowKeys.resize(rowTotal);
    for (int row = 0; row < rowTotal; ++row) {
        const PinEntry& pin = pins.at(row);
        rowKeys[row] = RowKeys { pin.dagSize, pin.refsCount, pinTypeOf(pin.type) };
    }
    rowsByCid.rebuild(pins);
    endResetModel();
}

template <typename Update> void PinModel::updateRowsOfCid(const QString& cid, Update update)
{
    rowsByCid.forEachRow(pins, cid, [&](int row) { update(row, pins[row]); });
}

void PinModel::setRefsCount(const QString& cid, int refsCount)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, PinEntry& pin) {
        if (pin.refsCount == refsCount)
            return;
        pin.refsCount = refsCount;
        rowKeys[row].refsCount = refsCount;
        const QModelIndex cell = index(row, RefsColumn);
        emit dataChanged(cell, cell, roles);
    });
}

void PinModel::setDagSize(const QString& cid, qint64 dagSize)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, PinEntry& pin) {
        if (pin.dagSize == dagSize)
            return;
        pin.dagSize = dagSize;
        rowKeys[row].dagSize = dagSize;
        const QModelIndex cell = index(row, DagSizeColumn);
        emit dataChanged(cell, cell, roles);
    });
}

void PinModel::setKind(const QString& cid, const QString& kind)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, PinEntry& pin) {
        if (pin.kind == kind)
            return;
        pin.kind = kind;
        const QModelIndex cell = index(row, KindColumn);
        emit dataChanged(cell, cell, roles);
    });
}

void PinModel::clear()
{
    beginResetModel();
    pins.clear();
    rowsByCid.clear();
    rowKeys.clear();
    endResetModel();
}

const PinEntry* PinModel::pinAt(int row) const
{
    if (row < 0 || row >= pins.size())
        return nullptr;
    return &pins.at(row);
}

PinTypeCounts PinModel::countsByType() const
{
    PinTypeCounts counts;
    for (const RowKeys& keys : rowKeys) {
        switch (keys.type) {
        case PinType::Recursive:
            ++counts.recursive;
            break;
        case PinType::Direct:
            ++counts.direct;
            break;
        case PinType::Indirect:
            ++counts.indirect;
            break;
        case PinType::Other:
            break;
        }
    }
    return counts;
}

QStringList PinModel::allCids() const
{
    QStringList cids;
    cids.reserve(pins.size());
    for (const PinEntry& pin : pins) {
        if (!pin.cid.isEmpty())
            cids.append(pin.cid);
    }
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
    pinModel = qobject_cast<const PinModel*>(model);
    QSortFilterProxyModel::setSourceModel(model);
}

void PinFilterProxyModel::setTypeFilter(const QString& filter)
{
    if (filter == typeFilter)
        return;
    typeFilter = filter;
    hideIndirect = typeFilter == RecursiveTypeFilter;
    invalidate();
}

void PinFilterProxyModel::setSearchMode(SearchMode mode)
{
    if (mode == searchMode)
        return;
    searchMode = mode;
    // One pass over all rows: the inherited incremental refilter removes and inserts rows range
    // by range and rebuilds its index after each range, which takes minutes when a search
    // scatters its matches over a million rows.
    invalidate();
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
    pendingOutcomes.fill(-1, sourceModel() ? sourceModel()->rowCount() : 0);
    emit layoutAboutToBeChanged();
    {
        const QSignalBlocker blocker(this);
        invalidate();
        QSortFilterProxyModel::setFilterRegularExpression(expression);
    }
    pendingExpression.reset();
    pendingOutcomes = QList<qint8>();
    emit layoutChanged();
}

QRegularExpression PinFilterProxyModel::searchExpression() const
{
    return pendingExpression ? *pendingExpression : filterRegularExpression();
}

bool PinFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    // While a new search is applied, the base class evaluates rows more than once; the rows
    // do not change meanwhile, so each is evaluated once.
    const bool recordable = !sourceParent.isValid() && sourceRow >= 0 && sourceRow < pendingOutcomes.size();
    if (recordable && pendingOutcomes.at(sourceRow) >= 0)
        return pendingOutcomes.at(sourceRow) != 0;
    const bool accepted = rowAccepted(sourceRow, sourceParent);
    if (recordable)
        pendingOutcomes[sourceRow] = accepted ? 1 : 0;
    return accepted;
}

bool PinFilterProxyModel::rowAccepted(int sourceRow, const QModelIndex& sourceParent) const
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
        const DecodedSearch& search = currentSearch();
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
    const DecodedSearch& search = currentSearch();
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

bool PinFilterProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    if (pinModel && left.model() == pinModel && right.model() == pinModel && left.column() == right.column())
        return pinLessThan(left.row(), right.row(), left.column());
    return QSortFilterProxyModel::lessThan(left, right);
}

// Known values sort among themselves; values that are not known (yet) stay together at the
// bottom in both sort orders. The view's descending sort asks lessThan(b, a), so the order of
// the known/unknown groups is flipped here to keep the unknown ones last.
bool PinFilterProxyModel::pinLessThan(int leftRow, int rightRow, int column) const
{
    const int rowTotal = pinModel->pinCount();
    if (leftRow < 0 || rightRow < 0 || leftRow >= rowTotal || rightRow >= rowTotal)
        return false;
    const bool descending = sortOrder() == Qt::DescendingOrder;
    const auto groupLess
        = [descending](int groupA, int groupB) { return descending ? groupA > groupB : groupA < groupB; };
    const auto textLess = [&](const QString& x, const QString& y) {
        if (x.isEmpty() != y.isEmpty())
            return groupLess(x.isEmpty(), y.isEmpty());
        if (x.isEmpty())
            return false;
        const int order = isSortLocaleAware() ? x.localeAwareCompare(y) : x.compare(y, sortCaseSensitivity());
        return order < 0;
    };

    switch (column) {
    case PinModel::CidColumn:
        return textLess(pinModel->pinAt(leftRow)->cid, pinModel->pinAt(rightRow)->cid);
    case PinModel::RefsColumn: {
        // 0: a count, 1: recursive but not counted yet, 2: not a recursive pin.
        const auto group = [](const PinModel::RowKeys& keys) {
            if (keys.type != PinModel::PinType::Recursive)
                return 2;
            return keys.refsCount >= 0 ? 0 : 1;
        };
        const PinModel::RowKeys& keysA = pinModel->rowKeysAt(leftRow);
        const PinModel::RowKeys& keysB = pinModel->rowKeysAt(rightRow);
        const int groupA = group(keysA);
        const int groupB = group(keysB);
        if (groupA != groupB)
            return groupLess(groupA, groupB);
        return groupA == 0 && keysA.refsCount < keysB.refsCount;
    }
    case PinModel::TypeColumn:
        return textLess(pinModel->pinAt(leftRow)->type, pinModel->pinAt(rightRow)->type);
    case PinModel::KindColumn:
        return textLess(pinModel->pinAt(leftRow)->kind, pinModel->pinAt(rightRow)->kind);
    case PinModel::DagSizeColumn: {
        const qint64 sizeA = pinModel->rowKeysAt(leftRow).dagSize;
        const qint64 sizeB = pinModel->rowKeysAt(rightRow).dagSize;
        if ((sizeA >= 0) != (sizeB >= 0))
            return groupLess(sizeA < 0, sizeB < 0);
        return sizeA >= 0 && sizeA < sizeB;
    }
    case PinModel::NameColumn:
        return textLess(pinModel->pinAt(leftRow)->name, pinModel->pinAt(rightRow)->name);
    default:
        return false;
    }
}
