#pragma once

#include <QPalette>
#include <QString>

class QCommandLineParser;

// Start-up pieces that main() runs in order; kept here so that tests can run them too.

// Blocks of a quarter mebibyte and more (a pin list's body, the arrays of a million rows) are
// given back to the system when freed, instead of staying in the heap after a refresh.
void returnLargeBlocksToSystem();

// Name, version, organisation and window icon of the application.
void setApplicationIdentity();

// Description plus the standard help and version options; nothing else.
void configureCommandLine(QCommandLineParser& parser);

// The fixed dark palette that goes with the Fusion style.
QPalette darkPalette();

// Applies the style with the dark palette when the style exists; otherwise changes nothing.
// Returns whether it was applied.
bool applyDarkLook(const QString& styleName = QStringLiteral("Fusion"));
