#pragma once

#include "modaldialogdriver.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>

// Answers the next folder dialog with this folder, once the dialog has taken it.
inline void chooseFolderNext(const QString& folder)
{
    ModalDialogDriver::answerNext([folder](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        dialog->setDirectory(folder);
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->clear();
        const QStringList chosen = dialog->selectedFiles();
        if (chosen.size() != 1 || QFileInfo(chosen.first()) != QFileInfo(folder)) {
            dialog->reject();
            return;
        }
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// Every file below a folder, by its path relative to the folder.
inline QHash<QString, QByteArray> filesBelow(const QString& folder)
{
    QHash<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return files;
}
