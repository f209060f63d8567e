#pragma once

#include <QMessageBox>
#include <QString>

// What a node sends is shown, not trusted. No real CID, address, name or path comes near this
// length, while laying out a single line of megabytes stalls a window for minutes.
constexpr int kMaxShownLineChars = 4096;

// The text with every line longer than the limit cut to it and ended with "…"; the text itself
// when no line is that long.
QString clipLongLines(const QString& text, int maxLineChars = kMaxShownLineChars);

// The looks of a window's status line: a hint in grey, an error in red. Both read at 4.5:1 or more
// on the dark palette's window colour ("gray" gives 3.1:1 there, "darkred" 1.2:1).
QString hintTextStyle();
QString errorTextStyle();

// A tool tip that shows the text as it stands: a tool tip takes any text that looks like markup as
// markup, so node texts go in escaped. Long lines are clipped and at most kMaxToolTipLines shown.
constexpr int kMaxToolTipLines = 40;
QString plainToolTip(const QString& text);

// A message box whose text is shown as it stands, never as markup: for texts that carry node
// answers or file names. Returns the button pressed.
QMessageBox::StandardButton showPlainMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
    const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok);
