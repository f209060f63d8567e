#pragma once

#include "cidrowindex.h"
#include "ipfsrecords.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QList>
#include <QMap>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

class PinOrder;
class QTimer;

struct PinTypeCounts {
    int recursive = 0;
    int direct = 0;
    int indirect = 0;
};


// The rows of the pin table: one PinEntry per row, metadata filled in cell by cell.
//
// The model sorts itself: rows are shown through a permutation of the pins, kept in order by the
// sort column. A value arriving in the sort column does not move its row at once; the rows
// whose values changed are merged into place together a little later, so that a stream of
// metadata answers costs a few merges a second instead of one re-sort per answer.
class PinModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { CidColumn = 0, RefsColumn, TypeColumn, KindColumn, DagSizeColumn, NameColumn, ColumnCount };

    // The value a cell sorts by: counts and sizes as numbers, text as stored; invalid or empty
    // while the value is not known.
    static constexpr int SortRole = Qt::UserRole + 1;

    // Pin type of a row, decoded once per load so that filtering and sorting compare no text.
    enum class PinType : quint8 { Recursive, Direct, Indirect, Other };

    explicit PinModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;

    // Sorts by column (-1: the order the pins were given in). Unknown values stay last in both
    // orders; equal values keep the order the pins were given in.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return sortedColumn; }
    Qt::SortOrder sortOrder() const { return sortDirection; }
    // Moves the rows whose sort values changed since the last sort to their places now.
    void applyPendingSort();
    bool hasPendingSort() const { return !unsortedPins.isEmpty(); }

    void setPins(const QList<PinEntry>& pins);
    // As setPins, but a large list's index, keys and order are made on a worker first: the table
    // shows the previous rows until pinsApplied. A later setPins, setPinsInBackground or clear
    // supersedes a list still being prepared.
    void setPinsInBackground(QList<PinEntry> pins);
    bool isPreparingPins() const { return preparing; }
    static constexpr int BackgroundPrepareRows = 100000;
    void setRefsCount(const QString& cid, int refsCount);
    void setDagSize(const QString& cid, qint64 dagSize);
    void setKind(const QString& cid, const QString& kind);
    void clear();

    const PinEntry* pinAt(int row) const;
    // What sorting and the type rule read of a row, packed apart from the records so that
    // sorting a million rows walks 16 bytes per row instead of whole records.
    struct RowKeys {
        qint64 dagSize = -1;
        int refsCount = -1;
        PinType type = PinType::Other;
    };
    const RowKeys& rowKeysAt(int row) const { return rowKeys.at(rowToPin.at(row)); }
    int pinCount() const { return int(pins.size()); }
    PinType pinTypeAt(int row) const { return rowKeysAt(row).type; }
    // Where a row's pin stands in the list given to setPins: stays with the pin while rows move.
    int pinIndexAt(int row) const { return rowToPin.at(row); }
    // The pins in the order given to setPins, whatever the sort.
    const PinEntry& pinAtIndex(int pinIndex) const { return pins.at(pinIndex); }
    // Changes with every setPins and clear, so that what was derived from the rows can tell.
    quint64 loadGeneration() const { return generation; }
    PinTypeCounts countsByType() const { return typeCounts; }
    // Sum of the DAG sizes known so far, over all rows.
    qint64 knownDagSizeTotal() const { return knownSizeTotal; }
    QStringList allCids() const;
    // The CIDs in the order given to setPins, whatever the sort; written into `room` when it holds
    // one entry per pin and is not shared, so that a large list costs no fresh memory here.
    QStringList cidsInListOrder(QStringList room = {}) const;

    static QString formatSize(qint64 bytes);

signals:
    // The rows last given to setPins or setPinsInBackground are the table's now.
    void pinsApplied();

private:
    // What showing a list takes besides the list itself, made in one go wherever it is made.
    struct PreparedPins {
        QList<PinEntry> pins;
        CidRowIndex index;
        QList<RowKeys> rowKeys;
        QList<int> order;
        QList<quint64> keys;
        QMap<QString, quint64> kindRanks;
        qint64 knownSizeTotal = 0;
        PinTypeCounts typeCounts;
        int column = -1;
        Qt::SortOrder direction = Qt::AscendingOrder;
    };
    static PreparedPins prepare(QList<PinEntry> pins, int column, Qt::SortOrder direction);
    void adopt(PreparedPins prepared);

    template <typename Update> void updateRowsOfCid(const QString& cid, Update update);
    static void releaseRows(QList<PinEntry> oldPins);

    // Sorting (pinmodel_sort.cpp). Rows whose values changed wait at least this long to move, so
    // that the answers of a busy stretch move together.
    static constexpr int MinResortDelayMs = 250;
    static constexpr int MaxResortDelayMs = 2000;
    PinOrder currentOrder();
    void forgetPendingSort();
    void noteSortValueChanged(int pin, int column);
    void showInOrder(QList<int> order, QList<quint64> keys);
    void setOrderQuietly(QList<int> order, QList<quint64> keys);

    QList<PinEntry> pins;
    CidRowIndex rowsByCid; // CID to indexes into pins
    QList<RowKeys> rowKeys; // by index into pins
    QList<int> rowToPin; // the shown order: index into pins of each row
    QList<int> pinToRow;
    QList<quint64> rowSortKeys; // by row, for the columns sorted through keys; else empty
    QMap<QString, quint64> kindRanks; // numbers of the kinds in the current keys
    int sortedColumn = -1;
    Qt::SortOrder sortDirection = Qt::AscendingOrder;
    QList<int> unsortedPins; // pins whose sort value changed since the last sort
    QList<bool> awaitingSort; // by index into pins: listed in unsortedPins
    QTimer* resortTimer = nullptr;
    quint64 generation = 0;
    quint64 preparation = 0; // the list being prepared; older preparations are dropped
    bool preparing = false;
    qint64 knownSizeTotal = 0;
    PinTypeCounts typeCounts; // types never change within a load
    mutable QFont cidFont;
    mutable QFont headerFont;
    mutable bool headerFontReady = false;
    mutable double cidFontDpi = -1.0;
};

// Hides indirect pins under the combined type filter and applies the search text to the CID
// or the Name column.
class PinFilterProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    enum SearchMode { SearchByCid = 0, SearchByName = 1 };

    explicit PinFilterProxyModel(QObject* parent = nullptr);

    void setTypeFilter(const QString& filter);
    QString currentTypeFilter() const { return typeFilter; }
    void setSearchMode(SearchMode mode);
    SearchMode currentSearchMode() const { return searchMode; }

    // Hides QSortFilterProxyModel::setFilterFixedString: same result, refiltered in one pass.
    void setFilterFixedString(const QString& pattern);

    void setSourceModel(QAbstractItemModel* model) override;
    // Over a PinModel the rows come sorted from the model itself (see PinModel::sort).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    // The search decoded once per expression: an escaped fixed string becomes a plain
    // substring test, so that a row costs no regular expression match.
    struct DecodedSearch {
        QRegularExpression expression;
        bool empty = true;
        bool literal = false;
        Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
        QString needle;
        QString asciiLowerNeedle; // the needle lower-cased when it is all ASCII; else empty
    };
    QRegularExpression searchExpression() const;
    const DecodedSearch& currentSearch() const;
    static bool searchMatches(const DecodedSearch& search, const QString& text);
    bool rowAccepted(int sourceRow, const QModelIndex& sourceParent, const DecodedSearch& search) const;
    void forgetOutcomes() const;
    // Runs a pass over all rows with the search decoded once for it: reading the expression
    // copies it, which a million rows feel.
    template <typename Pass> void withSearchFixed(Pass pass);

    QString typeFilter;
    SearchMode searchMode = SearchByCid;
    bool hideIndirect = false;
    PinModel* pinModel = nullptr;
    std::optional<QRegularExpression> pendingExpression; // the search being applied

    // Whether each pin passes the current filter, by index into the model's pins: 1, 0, or -1 not
    // known yet. A pin's CID, name and type never change within a load, so the outcomes hold
    // until the filter or the load changes; rows moving in the model re-map without a search.
    mutable QList<qint8> outcomeByPin;
    mutable quint64 outcomesGeneration = 0;
    // While the model's rows move, the filter cannot change: the outcomes are used unchecked.
    bool rowsMoving = false;
    // Set while a pass runs in which the search cannot change: rows read the decoded search as is.
    bool searchFixed = false;
    // With the search fixed and empty, what a row's outcome comes down to.
    enum class FixedOutcome : quint8 { Searched, AllShown, IndirectHidden };
    FixedOutcome fixedOutcome = FixedOutcome::Searched;
    std::pair<bool, FixedOutcome> fixedBeforeMove { false, FixedOutcome::Searched };
    void fixSearch();
    QList<QMetaObject::Connection> pinModelConnections;
    mutable DecodedSearch decoded;
};
