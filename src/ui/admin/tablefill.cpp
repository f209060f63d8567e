#include "tablefill.h"

#include "displaytext.h"

#include <QHeaderView>
#include <QTableWidget>

namespace {

class HeldUpdates
{
public:
    explicit HeldUpdates(QTableWidget* table)
        : table(table)
        , wasEnabled(table->updatesEnabled())
        , wasSorting(table->isSortingEnabled())
    {
        table->setUpdatesEnabled(false);
        table->setSortingEnabled(false);
    }
    ~HeldUpdates()
    {
        table->setSortingEnabled(wasSorting);
        table->setUpdatesEnabled(wasEnabled);
    }
    HeldUpdates(const HeldUpdates&) = delete;
    HeldUpdates& operator=(const HeldUpdates&) = delete;

private:
    QTableWidget* table;
    bool wasEnabled;
    bool wasSorting;
};

} // namespace

void fillRows(QTableWidget* table, const QList<QStringList>& rows)
{
    HeldUpdates held(table);
    table->clearContents();
    table->setRowCount(0);
    table->setRowCount(int(rows.size()));
    const int columns = table->columnCount();
    for (int row = 0; row < rows.size(); ++row) {
        const QStringList& cells = rows.at(row);
        for (int column = 0; column < columns && column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(clipLongLines(cells.at(column))));
    }
}

void fillSingleColumn(QTableWidget* table, const QStringList& values)
{
    HeldUpdates held(table);
    table->clearContents();
    table->setRowCount(0);
    table->setRowCount(int(values.size()));
    for (int row = 0; row < values.size(); ++row)
        table->setItem(row, 0, new QTableWidgetItem(clipLongLines(values.at(row))));
}

void fitRowsToLineCounts(QTableWidget* table, const QList<int>& lineCounts)
{
    QHeaderView* header = table->verticalHeader();
    HeldUpdates held(table);
    // The default height holds one line; each further line adds the font's line spacing.
    // Measured from the font, not the cells, so it holds while the table is hidden too.
    const int oneLine = header->defaultSectionSize();
    const int lineSpacing = table->fontMetrics().lineSpacing();
    for (int row = 0; row < lineCounts.size() && row < table->rowCount(); ++row) {
        const int lines = lineCounts.at(row);
        if (lines > 1)
            header->resizeSection(row, oneLine + (lines - 1) * lineSpacing);
    }
}
