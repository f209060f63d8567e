#pragma once

#include <QString>

// What a node sends is shown, not trusted. No real CID, address, name or path comes near this
// length, while laying out a single line of megabytes stalls a window for minutes.
constexpr int kMaxShownLineChars = 4096;

// The text with every line longer than the limit cut to it and ended with "…"; the text itself
// when no line is that long.
QString clipLongLines(const QString& text, int maxLineChars = kMaxShownLineChars);
