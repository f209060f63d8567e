#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include "appsettings.h"
#include "modaldialogdriver.h"

// Test executables run in parallel; each keeps its settings store in a folder of its own,
// so that one test clearing its store never wipes another's. The folder starts empty: Qt's file
// dialogs keep their last folder and history there too, and no run may inherit them. Call first
// thing in initTestCase.
inline void useIsolatedTestSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    ModalDialogDriver::prepareModalDialogs();
    const QString folder
        = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
              .filePath(QStringLiteral("vaxel-tests/") + QCoreApplication::applicationName());
    QDir(folder).removeRecursively();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    appSettings().clear();
}
