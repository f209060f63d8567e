#pragma once

#include "modaldialogdriver.h"
#include "widgetlookup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QFileSystemModel>
#include <QTreeView>

#include <functional>
#include <memory>

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

// What a user picks in the add dialog.
struct AddChoice {
    QStringList paths;
    bool wrap = true;
    int cidVersion = 1;
    bool onlyHash = false;
    QString destination = QStringLiteral("local");
    QString service;
    QString label;
    bool unpinLocal = false;
};

// Fills the add dialog as a user would: picks the paths in its browser, sets the options, OK.
inline void fillAddDialog(QDialog* dialog, const AddChoice& choice)
{
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("browserView"));
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    for (const QString& path : choice.paths)
        view->selectionModel()->select(model->index(path), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    childWithText<QPushButton>(dialog, QStringLiteral("Add selected"))->click();
    childWithText<QCheckBox>(dialog, QStringLiteral("Wrap with directory"))->setChecked(choice.wrap);
    childWithText<QCheckBox>(dialog, QStringLiteral("Only hash (do not store blocks)"))->setChecked(choice.onlyHash);
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        if (combo->isEditable()) {
            combo->setEditText(choice.service);
        } else if (combo->itemText(0) == QLatin1String("CIDv1")) {
            combo->setCurrentIndex(combo->findData(choice.cidVersion));
        } else if (combo->findData(choice.destination) >= 0) {
            combo->setCurrentIndex(combo->findData(choice.destination));
        }
    }
    for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
        if (edit->placeholderText() == QLatin1String("e.g. invoice-2026-03-17"))
            edit->setText(choice.label);
    }
    childWithText<QCheckBox>(dialog, QStringLiteral("Unpin local after remote pin is confirmed"))
        ->setChecked(choice.unpinLocal);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

// A message box as it was shown.
struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Records the next message box and closes it; other modal windows (a progress dialog) pass.
inline void recordNextBox(std::shared_ptr<SeenBox> seen, QWidget* skip = nullptr)
{
    ModalDialogDriver::answerNext(
        [seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                recordNextBox(seen, modal);
                return;
            }
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->icon = box->icon();
            seen->seen = true;
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        },
        skip, 600000);
}

// Opens the add dialog from the window's tool bar button, fills it, and records the box that
// ends the add.
inline std::shared_ptr<SeenBox> addThroughTheWindow(QWidget* window, const AddChoice& choice)
{
    auto seen = std::make_shared<SeenBox>();
    ModalDialogDriver::answerNext([choice, seen](QWidget* modal) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog)
            return;
        recordNextBox(seen, dialog);
        fillAddDialog(dialog, choice);
    });
    window->findChild<QPushButton*>(QStringLiteral("actionBtn"))->click();
    return seen;
}
