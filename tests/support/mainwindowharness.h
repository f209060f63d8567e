#pragma once

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "pinmodel.h"

// Catches what the application would open in the browser (QDesktopServices::setUrlHandler).
class OpenedUrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

// Rejects and records every modal dialog that opens while it lives: for checks that no prompt appears.
class UnexpectedModalGuard : public QObject
{
public:
    QStringList titles;

    UnexpectedModalGuard()
    {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                titles.append(dialog->windowTitle());
                dialog->reject();
            }
        });
        timer.start();
    }

private:
    QTimer timer;
};

// A main window that talks to a fake node, with handles on the parts tests drive. Pin lists and
// unpinned refs are held unanswered, so the window's own loads never replace the rows a test sets.
class MainWindowHarness
{
public:
    explicit MainWindowHarness(FakeKuboNode* node)
        : node(node)
    {
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        node->route(QStringLiteral("/refs/local"), FakeKuboNode::held());
        node->route(QStringLiteral("/id"),
            FakeKuboNode::json("{\"ID\":\"12D3KooWtest\",\"AgentVersion\":\"kubo/0.41.0\"}"));
        {
            QSettings store = appSettings();
            store.setValue(QStringLiteral("host"), node->host());
            store.setValue(QStringLiteral("port"), int(node->port()));
            store.sync();
        }
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // The first load starts 200 ms after construction; let it start before the test acts, so
        // its status texts come before the test's. Its timer goes once it has fired.
        QTRY_VERIFY(!window->findChild<QTimer*>(QStringLiteral("firstRefreshTimer")));
    }

    ~MainWindowHarness()
    {
        window.reset();
        appSettings().clear();
    }

    MainWindow* get() const { return window.get(); }
    QTableView* table() const { return window->findChild<QTableView*>(); }
    PinFilterProxyModel* proxy() const { return qobject_cast<PinFilterProxyModel*>(table()->model()); }
    PinModel* model() const { return qobject_cast<PinModel*>(proxy()->sourceModel()); }
    IpfsClient* client() const { return window->findChild<IpfsClient*>(); }

    QAction* action(const QString& text) const
    {
        const QList<QAction*> menus = window->menuBar()->actions();
        for (QAction* menuAction : menus) {
            if (!menuAction->menu())
                continue;
            const QList<QAction*> items = menuAction->menu()->actions();
            for (QAction* item : items) {
                if (item->text() == text)
                    return item;
            }
        }
        return nullptr;
    }

    // The tool bar combo whose first item carries this data ("pinned", "recursive+direct").
    QComboBox* combo(const QString& firstItemData) const
    {
        const QList<QComboBox*> combos = window->findChildren<QComboBox*>();
        for (QComboBox* box : combos) {
            if (box->count() > 0 && box->itemData(0).toString() == firstItemData)
                return box;
        }
        return nullptr;
    }
    QComboBox* contentCombo() const { return combo(QStringLiteral("pinned")); }
    QComboBox* typeFilterCombo() const { return combo(QStringLiteral("recursive+direct")); }

    QString status() const
    {
        const QList<QLabel*> labels = window->statusBar()->findChildren<QLabel*>();
        return labels.isEmpty() ? QString() : labels.first()->text();
    }
    QString notification() const
    {
        auto* label = window->findChild<QLabel*>(QStringLiteral("notification"));
        return label && label->isVisible() ? label->text() : QString();
    }

    void setUnpinnedMode()
    {
        contentCombo()->setCurrentIndex(contentCombo()->findData(QStringLiteral("unpinned")));
    }

    void setRows(const QList<PinEntry>& rows)
    {
        model()->setPins(rows);
        table()->clearSelection();
    }

    // The table row (proxy row) that shows a CID; -1 when none does.
    int rowOf(const QString& cid) const
    {
        for (int row = 0; row < proxy()->rowCount(); ++row) {
            if (proxy()->index(row, 0).data(Qt::UserRole).toString() == cid)
                return row;
        }
        return -1;
    }

    QStringList selectedCidsInRowOrder() const
    {
        QStringList cids;
        for (int row = 0; row < proxy()->rowCount(); ++row) {
            if (table()->selectionModel()->isRowSelected(row, QModelIndex()))
                cids.append(proxy()->index(row, 0).data(Qt::UserRole).toString());
        }
        return cids;
    }

    // Selects whole rows of the table (proxy rows), as Ctrl+click would.
    void selectRows(const QList<int>& rows)
    {
        QItemSelectionModel* selection = table()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(
                proxy()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // Opens the table's context menu on a row and returns its items ("-" for a separator); picks the
    // item `choose` when given, else closes the menu. Empty when no menu opens.
    QStringList contextMenuAt(int row, const QString& choose = QString())
    {
        return contextMenuAtPoint(table()->visualRect(proxy()->index(row, 0)).center(), choose);
    }

    QStringList contextMenuAtPoint(const QPoint& pos, const QString& choose = QString())
    {
        QStringList items;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &poll, [&items, &poll, choose] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return;
            poll.stop();
            QAction* pick = nullptr;
            const QList<QAction*> actions = menu->actions();
            for (QAction* item : actions) {
                items.append(item->isSeparator() ? QStringLiteral("-") : item->text());
                if (!choose.isEmpty() && item->text() == choose)
                    pick = item;
            }
            if (pick) {
                menu->setActiveAction(pick);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
        });
        poll.start();
        emit table()->customContextMenuRequested(pos);
        return items;
    }

    FakeKuboNode* node = nullptr;
    std::unique_ptr<MainWindow> window;
};

inline PinEntry pinRow(const QString& cid, const QString& type, const QString& name = QString())
{
    PinEntry entry;
    entry.cid = cid;
    entry.type = type;
    entry.name = name;
    return entry;
}
