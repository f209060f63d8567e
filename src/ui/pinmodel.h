#pragma once

#include "cidrowindex.h"
#include "ipfsrecords.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

#include <optional>

struct PinTypeCounts {
    int recursive = 0;
    int direct = 0;
    int indirect = 0;
};

// The rows of the pin table: one PinEntry per row, metadata filled in cell by cell.
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

    void setPins(const QList<PinEntry>& pins);
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
    const RowKeys& rowKeysAt(int row) const { return rowKeys.at(row); }
    int pinCount() const { return int(pins.size()); }
    PinType pinTypeAt(int row) const { return rowKeys.at(row).type; }
    PinTypeCounts countsByType() const;
    QStringList allCids() const;

    static QString formatSize(qint64 bytes);

private:
    template <typename Update> void updateRowsOfCid(const QString& cid, Update update);

    QList<PinEntry> pins;
    CidRowIndex rowsByCid;
    QList<RowKeys> rowKeys;
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

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

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
    bool pinLessThan(int leftRow, int rightRow, int column) const;

    QString typeFilter;
    SearchMode searchMode = SearchByCid;
    bool hideIndirect = false;
    const PinModel* pinModel = nullptr;
    std::optional<QRegularExpression> pendingExpression; // the search being applied

    bool rowAccepted(int sourceRow, const QModelIndex& sourceParent) const;

    mutable QList<qint8> pendingOutcomes; // while a search is applied: 1, 0, or -1 not yet known
    mutable DecodedSearch decoded;
};
