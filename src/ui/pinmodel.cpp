#include "pinmodel.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>

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
    const bool recursive = pinTypes.at(index.row()) == PinType::Recursive;

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
    rowsByCid.clear();
    rowsByCid.reserve(rowTotal);
    nextRowOfSameCid.clear();
    pinTypes.resize(rowTotal);
    for (int row = 0; row < rowTotal; ++row) {
        const PinEntry& pin = pins.at(row);
        pinTypes[row] = pinTypeOf(pin.type);
        if (pin.cid.isEmpty())
            continue;
        RowSpan& span = rowsByCid[pin.cid];
        if (span.first < 0) {
            span.first = span.last = row;
            continue;
        }
        if (nextRowOfSameCid.isEmpty())
            nextRowOfSameCid.fill(-1, rowTotal);
        nextRowOfSameCid[span.last] = row;
        span.last = row;
    }
    endResetModel();
}

template <typename Update> void PinModel::updateRowsOfCid(const QString& cid, Update update)
{
    const auto it = rowsByCid.constFind(cid);
    if (it == rowsByCid.constEnd())
        return;
    for (int row = it->first; row >= 0 && row < pins.size();
         row = nextRowOfSameCid.isEmpty() ? -1 : nextRowOfSameCid.at(row))
        update(row, pins[row]);
}

void PinModel::setRefsCount(const QString& cid, int refsCount)
{
    static const QList<int> roles { Qt::DisplayRole, Qt::ToolTipRole, SortRole };
    updateRowsOfCid(cid, [&](int row, PinEntry& pin) {
        if (pin.refsCount == refsCount)
            return;
        pin.refsCount = refsCount;
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
    nextRowOfSameCid.clear();
    pinTypes.clear();
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
    for (const PinType type : pinTypes) {
        switch (type) {
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
    invalidateFilter();
}

bool PinFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
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
        if (filterRegularExpression().pattern().isEmpty())
            return true;
        if (searchMode == SearchByCid)
            return searchMatches(pin->cid);
        return searchMatches(pin->name.isEmpty() ? EmptyPlaceholder : pin->name);
    }

    if (hideIndirect) {
        const QModelIndex typeIndex = source->index(sourceRow, PinModel::TypeColumn, sourceParent);
        if (source->data(typeIndex, Qt::DisplayRole).toString() == u"indirect")
            return false;
    }
    if (filterRegularExpression().pattern().isEmpty())
        return true;
    const int column = searchMode == SearchByCid ? PinModel::CidColumn : PinModel::NameColumn;
    const QModelIndex textIndex = source->index(sourceRow, column, sourceParent);
    return searchMatches(source->data(textIndex, filterRole()).toString());
}

bool PinFilterProxyModel::searchMatches(const QString& text) const
{
    const QRegularExpression expression = filterRegularExpression();
    if (expression.pattern() != decodedPattern || expression.patternOptions() != decodedOptions) {
        decodedPattern = expression.pattern();
        decodedOptions = expression.patternOptions();
        // Undo QRegularExpression::escape; the pattern is a literal exactly when escaping the
        // result gives the pattern back.
        literalNeedle.clear();
        for (qsizetype i = 0; i < decodedPattern.size(); ++i) {
            QChar c = decodedPattern.at(i);
            if (c == u'\\' && i + 1 < decodedPattern.size()) {
                c = decodedPattern.at(++i);
                if (c == u'0')
                    c = QChar(QChar::Null);
            }
            literalNeedle.append(c);
        }
        patternIsLiteral = QRegularExpression::escape(literalNeedle) == decodedPattern
            && !(decodedOptions & QRegularExpression::ExtendedPatternSyntaxOption);
    }
    if (patternIsLiteral) {
        const Qt::CaseSensitivity sensitivity = (decodedOptions & QRegularExpression::CaseInsensitiveOption)
            ? Qt::CaseInsensitive
            : Qt::CaseSensitive;
        return text.contains(literalNeedle, sensitivity);
    }
    return expression.match(text).hasMatch();
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
    const PinEntry* a = pinModel->pinAt(leftRow);
    const PinEntry* b = pinModel->pinAt(rightRow);
    if (!a || !b)
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
        return textLess(a->cid, b->cid);
    case PinModel::RefsColumn: {
        // 0: a count, 1: recursive but not counted yet, 2: not a recursive pin.
        const auto group = [this](int row, const PinEntry* pin) {
            if (pinModel->pinTypeAt(row) != PinModel::PinType::Recursive)
                return 2;
            return pin->refsCount >= 0 ? 0 : 1;
        };
        const int groupA = group(leftRow, a);
        const int groupB = group(rightRow, b);
        if (groupA != groupB)
            return groupLess(groupA, groupB);
        return groupA == 0 && a->refsCount < b->refsCount;
    }
    case PinModel::TypeColumn:
        return textLess(a->type, b->type);
    case PinModel::KindColumn:
        return textLess(a->kind, b->kind);
    case PinModel::DagSizeColumn: {
        const bool knownA = a->dagSize >= 0;
        const bool knownB = b->dagSize >= 0;
        if (knownA != knownB)
            return groupLess(!knownA, !knownB);
        return knownA && a->dagSize < b->dagSize;
    }
    case PinModel::NameColumn:
        return textLess(a->name, b->name);
    default:
        return false;
    }
}
