#include "benchwindow.h"

#include "benchsupport.h"
#include "ipfsclient.h"
#include "pinmodel.h"

#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>

BenchWindow::BenchWindow()
{
    window.resize(1400, 900);
    window.show();
    client = window.findChild<IpfsClient*>();
    countLabel = window.findChild<QLabel*>(QStringLiteral("countLabel"));
    table = window.findChild<QTableView*>();
    refreshButton = window.findChild<QPushButton*>(QStringLiteral("refreshBtn"));
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text().contains(QLatin1String("Add to IPFS")))
            addButton = button;
    }
    if (!client || !countLabel || !table || !refreshButton || !addButton)
        qFatal("the main window lacks its client, count line, table, refresh or add button");
    // A load is over once the table holds its rows (a large list is made ready on a worker after
    // it arrives); connected after the window's own slot.
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(table->model());
    auto* model = proxy ? qobject_cast<PinModel*>(proxy->sourceModel()) : nullptr;
    if (!model)
        qFatal("the main window's table shows no pin model");
    QObject::connect(model, &PinModel::pinsApplied, &window, [this] { ++loads; });
}

bool BenchWindow::waitForLoads(int count, int timeoutMs)
{
    return waitUntil([this, count] { return loads >= count; }, timeoutMs);
}
