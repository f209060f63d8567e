#pragma once

#include <QSize>
#include <QString>

class QDialog;

// Fits every dialog to its content on first show, refits it while untouched, and
// remembers its geometry between sessions.
class DialogSizing
{
public:
    struct Options {
        QString settingsKey;
        QSize minimumSize = QSize(-1, -1);
        QSize preferredSize = QSize(-1, -1);
        double maxScreenWidthFraction = 0.9;
        double maxScreenHeightFraction = 0.85;
        bool useSizeHint = true;
        bool persistGeometry = true;
    };

    static void attach(QDialog* dialog, const Options& options);
    static void requestRefit(QDialog* dialog);
};
