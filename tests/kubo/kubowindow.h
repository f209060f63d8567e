#pragma once

#include "appsettings.h"
#include "ipfsclient.h"
#include "kubonode.h"
#include "mainwindow.h"
#include "pinmodel.h"

#include <QAction>
#include <QComboBox>
#include <QHash>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <memory>

// The main window as a user opens it on a Kubo node, with handles on what the tests drive.
class KuboWindow
{
public:
    explicit KuboWindow(KuboNode& node, const QHash<QString, QVariant>& settings = {})
    {
        QSettings store = appSettings();
        store.clear();
        store.setValue(QStringLiteral("host"), node.host());
        store.setValue(QStringLiteral("port"), int(node.port()));
        for (auto it = settings.begin(); it != settings.end(); ++it)
            store.setValue(it.key(), it.value());
        store.sync();
        window = std::make_unique<MainWindow>();
        window->show();
    }

    MainWindow* get() const { return window.get(); }
    IpfsClient* client() const { return window->findChild<IpfsClient*>(); }
    QTableView* table() const { return window->findChild<QTableView*>(); }
    QAbstractItemModel* proxy() const { return table()->model(); }
    PinModel* model() const { return window->findChild<PinModel*>(); }
    QPushButton* refreshButton() const { return window->findChild<QPushButton*>(QStringLiteral("refreshBtn")); }
    QString notification() const { return window->findChild<QLabel*>(QStringLiteral("notification"))->text(); }
    // A load has ended when the refresh button can be pressed again.
    bool idle() const { return refreshButton()->isEnabled(); }

    QAction* action(const QString& text) const
    {
        for (QAction* menu : window->menuBar()->actions()) {
            for (QAction* item : menu->menu() ? menu->menu()->actions() : QList<QAction*>()) {
                if (item->text() == text)
                    return item;
            }
        }
        return nullptr;
    }

    // Picks the entry of the tool bar combo that offers this data, as a user would.
    bool choose(const QString& data)
    {
        for (QComboBox* combo : window->findChildren<QComboBox*>()) {
            const int index = combo->findData(data);
            if (index >= 0) {
                combo->setCurrentIndex(index);
                return true;
            }
        }
        return false;
    }

    // The rows the table shows, by CID.
    QHash<QString, PinEntry> rows() const
    {
        QHash<QString, PinEntry> shown;
        for (int row = 0; row < model()->rowCount(); ++row)
            shown.insert(model()->pinAt(row)->cid, *model()->pinAt(row));
        return shown;
    }

    // Selects the table rows of these CIDs, as Ctrl+click would; false when one is not shown.
    bool select(const QStringList& cids)
    {
        QItemSelectionModel* selection = table()->selectionModel();
        selection->clearSelection();
        int found = 0;
        for (int row = 0; row < proxy()->rowCount(); ++row) {
            if (cids.contains(proxy()->index(row, 0).data(Qt::UserRole).toString())) {
                selection->select(proxy()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
                ++found;
            }
        }
        return found == cids.size();
    }

    std::unique_ptr<MainWindow> window;
};
