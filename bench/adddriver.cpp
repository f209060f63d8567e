#include "adddriver.h"

#include "benchsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTreeView>

ModalAnswerer::ModalAnswerer(Handler handler)
    : handle(std::move(handler))
{
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start();
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == lastSeen)
        return;
    lastSeen = modal;
    handle(modal);
}

void fillAddDialog(QWidget* dialog, const AddChoice& choice)
{
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("browserView"));
    auto* model = view ? qobject_cast<QFileSystemModel*>(view->model()) : nullptr;
    if (!model)
        qFatal("the add dialog has no file browser");
    for (const QString& path : choice.paths) {
        const QModelIndex index = model->index(path);
        if (!index.isValid())
            qFatal("the add dialog's browser does not show %s", qPrintable(path));
        view->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    const auto button = [dialog](const QString& text) -> QAbstractButton* {
        for (QAbstractButton* candidate : dialog->findChildren<QAbstractButton*>()) {
            if (candidate->text() == text)
                return candidate;
        }
        qFatal("the add dialog has no \"%s\"", qPrintable(text));
        return nullptr;
    };
    button(QStringLiteral("Add selected"))->click();
    static_cast<QCheckBox*>(button(QStringLiteral("Wrap with directory")))->setChecked(choice.wrap);
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        const int destination = combo->findData(choice.destination);
        if (!combo->isEditable() && destination >= 0)
            combo->setCurrentIndex(destination);
    }
    if (!choice.service.isEmpty()) {
        // The dialog asks the node for its services; their answer refills the list.
        QComboBox* services = nullptr;
        for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
            if (combo->isEditable())
                services = combo;
        }
        if (!services)
            qFatal("the add dialog has no remote service field");
        waitUntil([&] { return services->findText(choice.service) >= 0; }, 10000);
        services->setEditText(choice.service);
    }
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}
