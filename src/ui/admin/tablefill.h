#pragma once

#include <QList>
#include <QStringList>

class QTableWidget;

// Replace a table's rows in one pass, with repaints held back until the end, so that
// thousands of rows cost one layout and not one per row.
void fillRows(QTableWidget* table, const QList<QStringList>& rows);
void fillSingleColumn(QTableWidget* table, const QStringList& values);

// Gives rows of several text lines their height without measuring every cell, which is what
// makes resizeRowsToContents slow on thousands of rows.
void fitRowsToLineCounts(QTableWidget* table, const QList<int>& lineCounts);
