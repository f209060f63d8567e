#pragma once

#include <QRect>
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

    // The size a dialog is fitted to, from its size hint and the available screen area
    // (an invalid area means no screen is known).
    static QSize bestSize(const QSize& sizeHint, const Options& options, const QRect& availableGeometry);
    // A screen fraction as it is applied: at most 1.0, and 0.2 for anything not above 0.2.
    static double clampedFraction(double fraction);
};
