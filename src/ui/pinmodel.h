#pragma once

#include "ipfsrecords.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QHash>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

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
    PinType pinTypeAt(int row) const { return pinTypes.at(row); }
    PinTypeCounts countsByType() const;
    QStringList allCids() const;

    static QString formatSize(qint64 bytes);

private:
    // First and last row of a CID; rows in between are chained through nextRowOfSameCid.
    struct RowSpan {
        int first = -1;
        int last = -1;
    };

    template <typename Update> void updateRowsOfCid(const QString& cid, Update update);

    QList<PinEntry> pins;
    QHash<QString, RowSpan> rowsByCid;
    QList<int> nextRowOfSameCid; // empty while no CID occurs twice
    QList<PinType> pinTypes;
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

    void setSourceModel(QAbstractItemModel* model) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool searchMatches(const QString& text) const;
    bool pinLessThan(int leftRow, int rightRow, int column) const;

    QString typeFilter;
    SearchMode searchMode = SearchByCid;
    bool hideIndirect = false;
    const PinModel* pinModel = nullptr;

    // The search pattern decoded back to its literal text when it is a fixed string, so that
    // each row costs a substring test instead of a regular expression match.
    mutable QString decodedPattern;
    mutable QRegularExpression::PatternOptions decodedOptions;
    mutable QString literalNeedle;
    mutable bool patternIsLiteral = false;
};
