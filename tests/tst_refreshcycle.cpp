#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "appsettings.h"
#include "connectionstatusdot.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "pinmodel.h"
#include "testsettings.h"

namespace {

struct TestPin {
    QString cid;
    QString type;
    QString name;
};

QByteArray pinLine(const TestPin& pin)
{
    QJsonObject object { { QStringLiteral("Cid"), pin.cid }, { QStringLiteral("Type"), pin.type } };
    if (!pin.name.isEmpty())
        object.insert(QStringLiteral("Name"), pin.name);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// `count` pins named cid prefix + zero-padded number, so that CID order is number order.
QList<TestPin> numberedPins(const QString& prefix, int count, const QString& type)
{
    QList<TestPin> pins;
    for (int i = 0; i < count; ++i)
        pins.append({ prefix + QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')), type, QString() });
    return pins;
}

qint64 sizeFor(const QString& cid)
{
    return 1000 + cid.size() * 10 + cid.back().unicode() % 10;
}

QString logMessage(const QString& line)
{
    return line.mid(QStringLiteral("yyyy-MM-dd hh:mm:ss  ").size());
}

QStringList statusMessages(const MainWindow& window)
{
    QStringList messages;
    for (const QString& line : window.statusLog())
        messages.append(logMessage(line));
    return messages;
}

} // namespace

// The main window's refresh cycle against a fake node: loading the table, the metadata that fills
// it, the count lines, the search, and what a failure leaves behind.
class TestRefreshCycle : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    QList<QPointer<MainWindow>> windows;
    QList<TestPin> pins; // what the node lists
    QHash<QString, int> refsCounts;
    bool failRefs = false;

    struct Window {
        MainWindow* window = nullptr;
        IpfsClient* client = nullptr;
        PinModel* model = nullptr;
        PinFilterProxyModel* proxy = nullptr;
        QTableView* table = nullptr;
        QPushButton* refreshButton = nullptr;
        QLabel* statsLine1 = nullptr;
        QLabel* countLabel = nullptr;
        QLineEdit* search = nullptr;
    };

    // A window as the user starts it; its first refresh runs 200 ms later.
    Window openWindow(const QString& contentMode = QStringLiteral("pinned"), bool loadMetadata = true)
    {
        QSettings stored = appSettings();
        stored.setValue(QStringLiteral("host"), node->host());
        stored.setValue(QStringLiteral("port"), node->port());
        stored.setValue(QStringLiteral("contentMode"), contentMode);
        stored.setValue(QStringLiteral("loadMetadata"), loadMetadata);
        stored.sync();
        Window w;
        w.window = new MainWindow;
        windows.append(w.window);
        w.client = w.window->findChild<IpfsClient*>();
        w.table = w.window->findChild<QTableView*>();
        w.proxy = qobject_cast<PinFilterProxyModel*>(w.table->model());
        w.model = qobject_cast<PinModel*>(w.proxy->sourceModel());
        w.refreshButton = w.window->findChild<QPushButton*>(QStringLiteral("refreshBtn"));
        w.statsLine1 = w.window->findChild<QLabel*>(QStringLiteral("statsLine1"));
        w.countLabel = w.window->findChild<QLabel*>(QStringLiteral("countLabel"));
        w.search = w.window->findChild<QLineEdit*>();
        return w;
    }

    // Opens a window and waits for its first load to reach the table.
    Window openLoadedWindow(const QString& contentMode = QStringLiteral("pinned"), bool loadMetadata = true)
    {
        Window w = openWindow(contentMode, loadMetadata);
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        if (!loaded.wait(10000))
            qWarning("the first load did not arrive");
        return w;
    }

    static QString cell(const Window& w, int row, int column)
    {
        return w.model->index(row, column).data().toString();
    }

    // The table is sorted, and rows move as values arrive: find a pin's row by its CID.
    static QString cellOf(const Window& w, const QString& cid, int column)
    {
        for (int row = 0; row < w.model->rowCount(); ++row) {
            if (w.model->pinAt(row)->cid == cid)
                return cell(w, row, column);
        }
        return QStringLiteral("(no row)");
    }

    QStringList askedCids(const QString& command) const
    {
        QStringList cids;
        for (const FakeKuboNode::Request& request : node->requests(command))
            cids.append(request.queryValue(QStringLiteral("arg")).remove(QStringLiteral("/ipfs/")));
        return cids;
    }

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void init()
    {
        appSettings().clear();
        pins = {
            { QStringLiteral("bafyrec1"), QStringLiteral("recursive"), QStringLiteral("photos") },
            { QStringLiteral("bafyrec2"), QStringLiteral("recursive"), QString() },
            { QStringLiteral("bafyrec3"), QStringLiteral("recursive"), QStringLiteral("site") },
            { QStringLiteral("bafydir1"), QStringLiteral("direct"), QString() },
            { QStringLiteral("bafydir2"), QStringLiteral("direct"), QStringLiteral("notes") },
        };
        refsCounts.clear();
        failRefs = false;
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        node->route(QStringLiteral("/pin/ls"), [this](const FakeKuboNode::Request& request) {
            const QString type = request.queryValue(QStringLiteral("type"));
            QByteArray body;
            for (const TestPin& pin : std::as_const(pins)) {
                if (type == u"all" || pin.type == type)
                    body += pinLine(pin);
            }
            return FakeKuboNode::streamed({ body });
        });
        node->route(QStringLiteral("/id"),
            FakeKuboNode::json("{\"ID\":\"12D3KooWTest\",\"AgentVersion\":\"kubo/0.40\"}"));
        node->route(QStringLiteral("/refs"), [this](const FakeKuboNode::Request& request) {
            if (failRefs)
                return FakeKuboNode::kuboError(QStringLiteral("merkledag: not found"));
            const QString cid = request.queryValue(QStringLiteral("arg"));
            QByteArray body;
            for (int i = 0; i < refsCounts.value(cid, 2); ++i)
                body += "{\"Ref\":\"bafychild" + QByteArray::number(i) + "\",\"Err\":\"\"}\n";
            return FakeKuboNode::text(body);
        });
        node->route(QStringLiteral("/dag/stat"), [](const FakeKuboNode::Request& request) {
            const QString cid = request.queryValue(QStringLiteral("arg"));
            return FakeKuboNode::json("{\"TotalSize\":" + QByteArray::number(sizeFor(cid)) + "}");
        });
        node->route(QStringLiteral("/files/stat"), [](const FakeKuboNode::Request& request) {
            const bool directory = request.queryValue(QStringLiteral("arg")).contains(QStringLiteral("rec"));
            return FakeKuboNode::json(directory ? "{\"Type\":\"directory\"}" : "{\"Type\":\"file\"}");
        });
    }

    void cleanup()
    {
        // Windows first: their clients' replies point at the node's sockets.
        for (const QPointer<MainWindow>& window : std::as_const(windows))
            delete window.data();
        windows.clear();
        delete node;
        node = nullptr;
    }

    void firstLoadFillsTableAndMetadata()
    {
        // A node may list an indirect pin even under the combined filter: the table never shows it.
        pins.append({ QStringLiteral("bafyind1"), QStringLiteral("indirect"), QString() });
        node->route(QStringLiteral("/pin/ls"), [this](const FakeKuboNode::Request& request) {
            const QString type = request.queryValue(QStringLiteral("type"));
            QByteArray body;
            for (const TestPin& pin : std::as_const(pins)) {
                if (pin.type == type || (type == u"direct" && pin.type == u"indirect"))
                    body += pinLine(pin);
            }
            return FakeKuboNode::streamed({ body });
        });
        refsCounts.insert(QStringLiteral("bafyrec2"), 0);
        Window w = openLoadedWindow();
        QCOMPARE(w.model->rowCount(), 5);
        QVERIFY(w.refreshButton->isEnabled());
        QCOMPARE(w.refreshButton->text(), QStringLiteral("\u27F3  Refresh"));
        const QStringList messages = statusMessages(*w.window);
        QVERIFY(messages.contains(QStringLiteral("Fetching pins from %1\u2026").arg(w.client->baseUrl())));
        QVERIFY(messages.contains(QStringLiteral("Entries loaded: 3")));
        QVERIFY(std::any_of(messages.cbegin(), messages.cend(),
            [](const QString& m) { return m.startsWith(QStringLiteral("Loaded 6 pin(s) \u2014 ")); }));

        // Refs for the recursive pins only; sizes and kinds for every row.
        QTRY_VERIFY(w.countLabel->text().contains(QStringLiteral("Metadata loaded: 5/5 CIDs")));
        QTRY_COMPARE(node->requestCount(QStringLiteral("/refs")), 3);
        QCOMPARE(node->requestCount(QStringLiteral("/dag/stat")), 5);
        QCOMPARE(node->requestCount(QStringLiteral("/files/stat")), 5);
        for (int row = 0; row < w.model->rowCount(); ++row) {
            const PinEntry pin = *w.model->pinAt(row);
            const bool recursive = pin.type == u"recursive";
            QTRY_COMPARE(cellOf(w, pin.cid, PinModel::RefsColumn),
                recursive ? (pin.cid == u"bafyrec2" ? QStringLiteral("0") : QStringLiteral("2"))
                          : QStringLiteral("\u2014"));
            QCOMPARE(cellOf(w, pin.cid, PinModel::KindColumn),
                recursive ? QStringLiteral("Directory") : QStringLiteral("File"));
            QCOMPARE(cellOf(w, pin.cid, PinModel::DagSizeColumn), PinModel::formatSize(sizeFor(pin.cid)));
        }

        qint64 total = 0;
        for (const TestPin& pin : std::as_const(pins))
            total += pin.type == u"indirect" ? 0 : sizeFor(pin.cid);
        QVERIFY(w.statsLine1->isHidden());
        QCOMPARE(w.countLabel->text(),
            QStringLiteral(
                "Total: 5  |  Recursive: 3  |  Direct: 2  |  Indirect: 0  |  Total DAG size of all "
                "displayed CIDs: %1  |  Metadata loaded: 5/5 CIDs")
                .arg(PinModel::formatSize(total)));

        auto* peer = w.window->findChild<QLabel*>(QStringLiteral("peerIdLabel"));
        QTRY_COMPARE(peer->text(), QStringLiteral("PeerID: 12D3KooWTest  |  kubo/0.40"));
        QCOMPARE(peer->cursor().shape(), Qt::PointingHandCursor);
        auto* dot = w.window->findChild<ConnectionStatusDot*>(QStringLiteral("statusIcon"));
        QCOMPARE(dot->currentState(), ConnectionStatusDot::Connected);
        QVERIFY(dot->toolTip().startsWith(
            QStringLiteral("Connection: Connected\nConnected to %1").arg(w.client->baseUrl())));
    }

    void clickWhileLoadingIsIgnored()
    {
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        Window w = openWindow();
        QTRY_COMPARE(node->heldCount(QStringLiteral("/pin/ls")), 2);
        QVERIFY(!w.refreshButton->isEnabled());
        QCOMPARE(w.refreshButton->text(), QStringLiteral("\u27F3  Loading\u2026"));

        // Neither the button (were it enabled), nor F5, nor the auto-refresh tick starts another load.
        QMetaObject::invokeMethod(w.window, "onRefreshClicked");
        QMetaObject::invokeMethod(w.window, "onAutoRefreshTick");
        QTest::qWait(100);
        QCOMPARE(node->requestCount(QStringLiteral("/pin/ls")), 2);

        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        node->releaseHeld(QStringLiteral("/pin/ls"), FakeKuboNode::streamed({ pinLine(pins.first()) }));
        QVERIFY(loaded.wait());
        QCOMPARE(w.model->rowCount(), 1);
        QVERIFY(w.refreshButton->isEnabled());
    }

    void filterChangeForcesRefresh()
    {
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        Window w = openWindow();
        QTRY_COMPARE(node->heldCount(QStringLiteral("/pin/ls")), 2);
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        QSignalSpy errors(w.client, &IpfsClient::errorOccurred);

        // Choosing another filter while loading abandons the load and starts the chosen one.
        node->clearRequests();
        QComboBox* filter = nullptr;
        for (QComboBox* combo : w.window->findChildren<QComboBox*>()) {
            if (combo->findData(QStringLiteral("all")) >= 0)
                filter = combo;
        }
        QVERIFY(filter);
        filter->setCurrentIndex(filter->findData(QStringLiteral("all")));
        // The abandoned requests are aborted: only the new one is still open.
        QTRY_COMPARE(node->heldCount(QStringLiteral("/pin/ls")), 1);
        QCOMPARE(node->requests(QStringLiteral("/pin/ls")).size(), 1);
        QCOMPARE(node->requests(QStringLiteral("/pin/ls")).first().queryValue(QStringLiteral("type")),
            QStringLiteral("all"));
        QCOMPARE(w.proxy->currentTypeFilter(), QStringLiteral("all"));

        // Only the new load's answer reaches the table; the abandoned ones end silently.
        QByteArray all;
        for (const TestPin& pin : std::as_const(pins))
            all += pinLine(pin);
        all += pinLine({ QStringLiteral("bafyind9"), QStringLiteral("indirect"), QString() });
        node->releaseHeld(QStringLiteral("/pin/ls"), FakeKuboNode::streamed({ all }));
        QVERIFY(loaded.wait());
        QTest::qWait(100);
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(errors.size(), 0);
        // Under "all" an indirect pin is a row like any other.
        QCOMPARE(w.model->rowCount(), 6);
        QCOMPARE(w.proxy->rowCount(), 6);
        QVERIFY(w.countLabel->text().startsWith(
            QStringLiteral("Total: 6  |  Recursive: 3  |  Direct: 2  |  Indirect: 1")));
    }

    void refsAskedForTheFirst500RecursivePins()
    {
        // Metadata loading off: only refs are asked for, and the size part reads "—".
        pins = numberedPins(QStringLiteral("bafyr"), 700, QStringLiteral("recursive"))
            + numberedPins(QStringLiteral("bafyd"), 20, QStringLiteral("direct"));
        Window w = openLoadedWindow(QStringLiteral("pinned"), false);
        QCOMPARE(w.model->rowCount(), 720);
        QTRY_COMPARE(node->requestCount(QStringLiteral("/refs")), 500);

        // The composite list is sorted by CID: the direct pins ("bafyd…") come first, then the
        // recursive ones in number order; the first 500 of those are asked for.
        QStringList expected;
        for (int i = 0; i < 500; ++i)
            expected.append(pins.at(i).cid);
        QStringList asked = askedCids(QStringLiteral("/refs"));
        std::sort(asked.begin(), asked.end());
        QCOMPARE(asked, expected);
        QTest::qWait(200);
        QCOMPARE(node->requestCount(QStringLiteral("/refs")), 500);
        QCOMPARE(node->requestCount(QStringLiteral("/dag/stat")), 0);
        QCOMPARE(node->requestCount(QStringLiteral("/files/stat")), 0);

        QTRY_COMPARE(cellOf(w, QStringLiteral("bafyr00499"), PinModel::RefsColumn), QStringLiteral("2"));
        QCOMPARE(cellOf(w, QStringLiteral("bafyr00500"), PinModel::RefsColumn), QStringLiteral("\u2026"));
        QCOMPARE(cellOf(w, QStringLiteral("bafyr00699"), PinModel::RefsColumn), QStringLiteral("\u2026"));
        QCOMPARE(cellOf(w, QStringLiteral("bafyr00699"), PinModel::DagSizeColumn), QStringLiteral("\u2026"));
        QVERIFY(!w.countLabel->text().contains(QStringLiteral("Metadata loaded")));
        QVERIFY(
            w.countLabel->text().endsWith(QStringLiteral("Total DAG size of all displayed CIDs: \u2014")));
    }

    void secondLoadUsesCachedMetadata()
    {
        Window w = openLoadedWindow();
        QTRY_VERIFY(w.countLabel->text().contains(QStringLiteral("Metadata loaded: 5/5 CIDs")));
        node->clearRequests();

        // The refresh after it asks for refs again, but takes sizes and kinds from the caches:
        // they are in the table, and counted as complete, when the load is shown.
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        QString countLineAtLoad;
        QString sizeAtLoad;
        connect(w.client, &IpfsClient::pinsReceived, this, [&] {
            countLineAtLoad = w.countLabel->text();
            sizeAtLoad = cell(w, 0, PinModel::DagSizeColumn);
        });
        w.refreshButton->click();
        QVERIFY(loaded.wait());
        QVERIFY2(countLineAtLoad.contains(QStringLiteral("Metadata loaded: 5/5 CIDs")),
            qPrintable(countLineAtLoad));
        QCOMPARE(sizeAtLoad, PinModel::formatSize(sizeFor(w.model->pinAt(0)->cid)));
        QTRY_COMPARE(node->requestCount(QStringLiteral("/refs")), 3);
        QTest::qWait(200);
        QCOMPARE(node->requestCount(QStringLiteral("/dag/stat")), 0);
        QCOMPARE(node->requestCount(QStringLiteral("/files/stat")), 0);
    }

    void countLines_data()
    {
        QTest::addColumn<bool>("byName");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<int>("shown");

        QTest::newRow("no search") << false << QString() << QString() << 10;
        QTest::newRow("CID, any case")
            << false << QStringLiteral("REC") << QStringLiteral("5 / 10 shown  |  R:5  D:5  I:0") << 5;
        QTest::newRow("name") << true << QStringLiteral("site")
                              << QStringLiteral("2 / 10 shown  |  R:5  D:5  I:0") << 2;
        QTest::newRow("unnamed rows")
            << true << QStringLiteral("\u2014") << QStringLiteral("6 / 10 shown  |  R:5  D:5  I:0") << 6;
        QTest::newRow("nothing") << false << QStringLiteral("zzz")
                                 << QStringLiteral("0 / 10 shown  |  R:5  D:5  I:0") << 0;
    }

    void countLines()
    {
        QFETCH(bool, byName);
        QFETCH(QString, search);
        QFETCH(QString, firstLine);
        QFETCH(int, shown);
        pins = numberedPins(QStringLiteral("bafyrec"), 5, QStringLiteral("recursive"))
            + numberedPins(QStringLiteral("bafydir"), 5, QStringLiteral("direct"));
        pins[0].name = QStringLiteral("site one");
        pins[6].name = QStringLiteral("Site two");
        pins[7].name = QStringLiteral("photos");
        pins[8].name = QStringLiteral("notes");
        Window w = openLoadedWindow();
        QTRY_VERIFY(w.countLabel->text().contains(QStringLiteral("Metadata loaded: 10/10 CIDs")));

        if (byName)
            w.window->findChildren<QRadioButton*>().at(1)->setChecked(true);
        w.search->setText(search);
        QTRY_COMPARE(w.proxy->rowCount(), shown);

        qint64 visibleTotal = 0;
        for (int row = 0; row < w.proxy->rowCount(); ++row)
            visibleTotal += w.model->pinAt(w.proxy->mapToSource(w.proxy->index(row, 0)).row())->dagSize;
        const QString sizeText
            = visibleTotal > 0 ? PinModel::formatSize(visibleTotal) : QStringLiteral("\u2014");
        const QString totals
            = QStringLiteral("Total DAG size of all displayed CIDs: %1  |  Metadata loaded: 10/10 CIDs")
                  .arg(sizeText);
        QTRY_COMPARE(w.statsLine1->text(), firstLine);
        QCOMPARE(w.statsLine1->isHidden(), firstLine.isEmpty());
        if (search.isEmpty())
            QCOMPARE(w.countLabel->text(),
                QStringLiteral("Total: 10  |  Recursive: 5  |  Direct: 5  |  Indirect: 0  |  ") + totals);
        else
            QCOMPARE(w.countLabel->text(), totals);
    }

    void countLinesKeepPaceWithTableSize_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("immediate");
        QTest::newRow("1999 rows") << 1999 << 100 << false;
        QTest::newRow("2000 rows") << 2000 << 350 << false;
        QTest::newRow("2501 rows: also at once") << 2501 << 350 << true;
        QTest::newRow("5000 rows") << 5000 << 600 << true;
        QTest::newRow("10000 rows") << 10000 << 900 << true;
    }

    void countLinesKeepPaceWithTableSize()
    {
        QFETCH(int, rows);
        QFETCH(int, interval);
        QFETCH(bool, immediate);
        // Direct pins only, so that no refs answer moves anything; sizes and kinds are held.
        pins = numberedPins(QStringLiteral("bafyd"), rows, QStringLiteral("direct"));
        node->route(QStringLiteral("/dag/stat"), FakeKuboNode::held());
        node->route(QStringLiteral("/files/stat"), FakeKuboNode::held());
        Window w = openLoadedWindow();
        const QString waiting = QStringLiteral("Metadata loaded: 0/%1 CIDs").arg(rows);
        QTRY_VERIFY_WITH_TIMEOUT(w.countLabel->text().endsWith(waiting), 10000);
        QVERIFY(w.countLabel->text().contains(QStringLiteral("displayed CIDs: \u2014")));
        auto* countTimer = w.window->findChild<QTimer*>(QStringLiteral("countUpdateTimer"));
        QTRY_VERIFY(!countTimer->isActive());
        // Queuing the rows brought the line up to date at once too; the next immediate update
        // comes a second after that at the earliest.
        QTest::qWait(1000);

        // What the count line reads right after the window has taken the first size answer.
        QString lineAfterAnswer;
        connect(
            w.client, &IpfsClient::dagStatReceived, this, [&] { lineAfterAnswer = w.countLabel->text(); },
            Qt::SingleShotConnection);
        QTRY_VERIFY(node->heldCount(QStringLiteral("/dag/stat")) > 0);
        node->releaseHeld(QStringLiteral("/dag/stat"), FakeKuboNode::json("{\"TotalSize\":2048}"), 1);
        QTRY_VERIFY(!lineAfterAnswer.isEmpty());
        QCOMPARE(countTimer->interval(), interval);
        QVERIFY(countTimer->isActive());
        // Above 2500 CIDs the line follows at once; below, only when the timer runs out.
        QCOMPARE(lineAfterAnswer.contains(QStringLiteral("displayed CIDs: 2.0 KB")), immediate);
        QTRY_VERIFY(w.countLabel->text().contains(QStringLiteral("displayed CIDs: 2.0 KB")));
    }

    void searchWaitsForAPauseInTyping()
    {
        pins = numberedPins(QStringLiteral("bafyab"), 3, QStringLiteral("recursive"))
            + numberedPins(QStringLiteral("bafyabc"), 2, QStringLiteral("recursive"));
        Window w = openLoadedWindow(QStringLiteral("pinned"), false);
        // Refs answers move rows in the sorted table too; let them all arrive first.
        for (int row = 0; row < 5; ++row)
            QTRY_COMPARE(cell(w, row, PinModel::RefsColumn), QStringLiteral("2"));
        QSignalSpy filtered(w.proxy, &QAbstractItemModel::layoutChanged);
        auto* debounce = w.window->findChild<QTimer*>(QStringLiteral("searchDebounceTimer"));
        w.search->setText(QStringLiteral("ab"));
        w.search->setText(QStringLiteral("abc"));
        QVERIFY(debounce->isActive());
        QCOMPARE(w.proxy->rowCount(), 5);
        QTRY_COMPARE(w.proxy->rowCount(), 2);
        QTest::qWait(200);
        QCOMPARE(filtered.size(), 1);
        QVERIFY(!w.statsLine1->isHidden());
        QCOMPARE(w.statsLine1->text(), QStringLiteral("2 / 5 shown  |  R:5  D:0  I:0"));

        // A new load applies the search at once, without waiting.
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        w.refreshButton->click();
        QVERIFY(loaded.wait());
        QCOMPARE(w.proxy->rowCount(), 2);
        QVERIFY(!debounce->isActive());
    }

    void unpinnedMode()
    {
        node->route(QStringLiteral("/refs/local"),
            FakeKuboNode::streamed(
                { "{\"Ref\":\"bafyrec1\",\"Err\":\"\"}\n{\"Ref\":\"bafyloose1\",\"Err\":\"\"}\n",
                    "{\"Ref\":\"bafyloose2\",\"Err\":\"\"}\n" }));
        Window w = openLoadedWindow(QStringLiteral("unpinned"));
        QCOMPARE(w.model->rowCount(), 2);
        QStringList cids { w.model->pinAt(0)->cid, w.model->pinAt(1)->cid };
        cids.sort();
        QCOMPARE(cids, QStringList({ QStringLiteral("bafyloose1"), QStringLiteral("bafyloose2") }));
        QCOMPARE(cell(w, 0, PinModel::TypeColumn), QStringLiteral("\u2014"));
        QCOMPARE(cell(w, 0, PinModel::RefsColumn), QStringLiteral("\u2014"));

        const QStringList messages = statusMessages(*w.window);
        QVERIFY(messages.contains(
            QStringLiteral("Fetching unpinned refs from %1\u2026").arg(w.client->baseUrl())));
        QVERIFY(messages.contains(QStringLiteral("Entries loaded: 3")));
        QVERIFY(std::any_of(messages.cbegin(), messages.cend(), [](const QString& m) {
            return m.startsWith(QStringLiteral("Loaded 2 unpinned CID(s) \u2014 "));
        }));
        QCOMPARE(w.countLabel->text(),
            QStringLiteral("Total: 2 (unpinned)  |  Total DAG size of all displayed CIDs: \u2014"));
        QTest::keyClicks(w.search, QStringLiteral("loose2"));
        QTRY_COMPARE(w.statsLine1->text(), QStringLiteral("1 / 2 shown (unpinned)"));
        QCOMPARE(w.countLabel->text(), QStringLiteral("Total DAG size of all displayed CIDs: \u2014"));

        // No metadata is asked for unpinned blocks, and nothing can be unpinned.
        QTest::qWait(100);
        QCOMPARE(node->requestCount(QStringLiteral("/refs")), 0);
        QCOMPARE(node->requestCount(QStringLiteral("/dag/stat")), 0);
        QCOMPARE(node->requestCount(QStringLiteral("/files/stat")), 0);
        for (QAction* action : w.window->findChildren<QAction*>()) {
            if (action->text() == u"Unpin all listed CIDs")
                QVERIFY(!action->isEnabled());
        }
    }

    void failedLoadKeepsTheTable()
    {
        Window w = openLoadedWindow(QStringLiteral("pinned"), false);
        QCOMPARE(w.model->rowCount(), 5);
        for (QAction* action : w.window->findChildren<QAction*>()) {
            if (action->text() == u"Unpin all listed CIDs")
                QVERIFY(action->isEnabled());
        }

        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::kuboError(QStringLiteral("repo locked")));
        // The identity stays unanswered, so that only the failure speaks.
        node->route(QStringLiteral("/id"), FakeKuboNode::held());
        QSignalSpy errors(w.client, &IpfsClient::errorOccurred);
        w.refreshButton->click();
        QVERIFY(errors.wait());
        auto* banner = w.window->findChild<QLabel*>(QStringLiteral("notification"));
        QVERIFY(!banner->isHidden());
        QCOMPARE(banner->text(), QStringLiteral("\u26A0  The node could not list pins: repo locked"));
        QVERIFY(statusMessages(*w.window).last().startsWith(QStringLiteral("Error: The node could not list pins: ")));
        QVERIFY(w.refreshButton->isEnabled());
        QCOMPARE(w.model->rowCount(), 5);
        // The node answered, with an error: it is still connected, and its identity stays shown.
        auto* dot = w.window->findChild<ConnectionStatusDot*>(QStringLiteral("statusIcon"));
        QTRY_COMPARE(dot->currentState(), ConnectionStatusDot::Connected);
        auto* peer = w.window->findChild<QLabel*>(QStringLiteral("peerIdLabel"));
        QVERIFY2(peer->text().startsWith(QStringLiteral("PeerID: ")), qPrintable(peer->text()));

        // The next refresh hides the banner again.
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        w.refreshButton->click();
        QVERIFY(banner->isHidden());
        QCOMPARE(dot->currentState(), ConnectionStatusDot::Checking);
    }

    void bothCombinedBatchesFail()
    {
        Window w = openLoadedWindow(QStringLiteral("pinned"), false);
        QCOMPARE(w.model->rowCount(), 5);
        // Both halves of "recursive+direct" fail: no list follows the errors, so the table keeps
        // the rows of the last load that worked.
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::kuboError(QStringLiteral("repo locked")));
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        QSignalSpy errors(w.client, &IpfsClient::errorOccurred);
        w.refreshButton->click();
        QTRY_COMPARE(errors.size(), 2);
        QTest::qWait(100);
        QCOMPARE(loaded.size(), 0);
        QCOMPARE(w.model->rowCount(), 5);
        QVERIFY(statusMessages(*w.window).last().startsWith(QStringLiteral("Error: ")));
    }

    void failedMetadataStaysUnknown_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("countLine");
        QTest::addColumn<int>("asked");
        QTest::addColumn<bool>("loadMetadata");
        QTest::newRow("refs") << QStringLiteral("/refs") << int(PinModel::RefsColumn)
                              << QStringLiteral("Metadata loaded: 2/5 CIDs, 3 failed") << 3 << true;
        QTest::newRow("refs, no sizes or kinds")
            << QStringLiteral("/refs") << int(PinModel::RefsColumn)
            << QStringLiteral("Metadata failed for 3 CIDs") << 3 << false;
        QTest::newRow("size") << QStringLiteral("/dag/stat") << int(PinModel::DagSizeColumn)
                              << QStringLiteral("Metadata loaded: 0/5 CIDs, 5 failed") << 5 << true;
        QTest::newRow("kind, node gone")
            << QStringLiteral("/files/stat") << int(PinModel::KindColumn)
            << QStringLiteral("Metadata loaded: 0/5 CIDs, 5 failed") << 5 << true;
    }

    // A request that fails leaves its cell unknown, counts as failed rather than loaded, and is
    // asked again by the next load: nothing of it is cached.
    void failedMetadataStaysUnknown()
    {
        QFETCH(QString, command);
        QFETCH(int, column);
        QFETCH(QString, countLine);
        QFETCH(int, asked);
        QFETCH(bool, loadMetadata);
        const bool kind = command == u"/files/stat";
        FakeKuboNode::Response gone = FakeKuboNode::json("{\"Type\":\"file\"}");
        gone.cutAfterBytes = 1;
        if (command == u"/refs")
            failRefs = true;
        else if (kind)
            node->route(QStringLiteral("/ls"), gone);
        if (command != u"/refs")
            node->route(
                command, kind ? gone : FakeKuboNode::kuboError(QStringLiteral("merkledag: not found")));
        Window w = openLoadedWindow(QStringLiteral("pinned"), loadMetadata);
        QTRY_VERIFY2(w.countLabel->text().endsWith(countLine), qPrintable(w.countLabel->text()));
        QTest::qWait(100);
        for (int row = 0; row < w.model->rowCount(); ++row) {
            const bool direct = w.model->pinAt(row)->type == u"direct";
            QCOMPARE(cell(w, row, column),
                direct && column == PinModel::RefsColumn ? QStringLiteral("\u2014")
                                                         : QStringLiteral("\u2026"));
        }
        if (column == PinModel::DagSizeColumn)
            QVERIFY(w.countLabel->text().contains(QStringLiteral("displayed CIDs: \u2014")));

        // The node is back: the next load asks again, and everything loads.
        failRefs = false;
        if (command != u"/refs")
            node->route(command, FakeKuboNode::json(kind ? "{\"Type\":\"file\"}" : "{\"TotalSize\":1234}"));
        node->clearRequests();
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        w.refreshButton->click();
        QVERIFY(loaded.wait());
        QTRY_COMPARE(node->requestCount(command), asked);
        const QString ending = loadMetadata ? QStringLiteral("Metadata loaded: 5/5 CIDs")
                                            : QStringLiteral("displayed CIDs: \u2014");
        QTRY_VERIFY2(w.countLabel->text().endsWith(ending), qPrintable(w.countLabel->text()));
        for (int row = 0; row < w.model->rowCount(); ++row)
            QTRY_VERIFY(cell(w, row, column) != QStringLiteral("\u2026"));
    }

    void largeListMode_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("largeList");
        QTest::newRow("1200 rows: columns fitted") << 1200 << false;
        QTest::newRow("1201 rows: large list mode") << 1201 << true;
    }

    void largeListMode()
    {
        QFETCH(int, rows);
        QFETCH(bool, largeList);
        pins = numberedPins(QStringLiteral("bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbz"), rows,
            QStringLiteral("direct"));
        Window w = openWindow(QStringLiteral("pinned"), false);
        QHeaderView* header = w.table->horizontalHeader();
        QList<int> builtWidths;
        for (int column = 0; column < PinModel::NameColumn; ++column)
            builtWidths.append(header->sectionSize(column));
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        QVERIFY(loaded.wait());
        QCOMPARE(w.model->rowCount(), rows);
        QTRY_COMPARE(header->sectionResizeMode(PinModel::CidColumn), QHeaderView::Interactive);
        QTest::qWait(50);
        const QString largeText
            = QStringLiteral("Loaded %1 pin(s) \u2014 large list mode (auto-resize skipped)").arg(rows);
        QCOMPARE(statusMessages(*w.window).contains(largeText), largeList);
        if (largeList) {
            for (int column = 0; column < PinModel::NameColumn; ++column)
                QCOMPARE(header->sectionSize(column), builtWidths.at(column));
        } else {
            // Fitted to CIDs longer than a CIDv1, which the column starts wide enough for.
            QTRY_VERIFY(header->sectionSize(PinModel::CidColumn) > builtWidths.at(PinModel::CidColumn));
        }
        QCOMPARE(header->sectionResizeMode(PinModel::NameColumn), QHeaderView::Stretch);
        // The summary replaces the large list text at once.
        QVERIFY(statusMessages(*w.window).last().startsWith(
            QStringLiteral("Loaded %1 pin(s) \u2014 ").arg(rows)));
    }

    void aRefreshSharesTheCidsTheTableHolds()
    {
        // The combined listing of a refresh takes the text of each CID the table already shows, so
        // that a full table is not held twice while the new list is read; a new pin has its own.
        pins = numberedPins(QStringLiteral("bafyr"), 20, QStringLiteral("recursive"));
        Window w = openLoadedWindow(QStringLiteral("pinned"), false);
        QCOMPARE(w.model->rowCount(), 20);
        QHash<QString, const QChar*> textOf;
        for (int index = 0; index < w.model->pinCount(); ++index)
            textOf.insert(w.model->pinAtIndex(index).cid, w.model->pinAtIndex(index).cid.constData());
        pins.append(numberedPins(QStringLiteral("bafyn"), 1, QStringLiteral("direct")));

        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        w.refreshButton->click();
        QVERIFY(loaded.wait());
        QCOMPARE(w.model->rowCount(), 21);
        int shared = 0;
        for (int index = 0; index < w.model->pinCount(); ++index) {
            const QString& cid = w.model->pinAtIndex(index).cid;
            if (textOf.value(cid) == cid.constData())
                ++shared;
        }
        QCOMPARE(shared, 20);
    }

    void aLargeListIsMadeReadyOnAWorker()
    {
        // A list this large reaches the table from a worker: until it is there the table keeps
        // what it showed and the window says it is loading; then the load goes on as for any list.
        const int rows = PinModel::BackgroundPrepareRows;
        pins = numberedPins(QStringLiteral("bafyr"), rows, QStringLiteral("recursive"));
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        Window w = openWindow(QStringLiteral("pinned"), false);
        QSignalSpy loaded(w.client, &IpfsClient::pinsReceived);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(w.model->rowCount(), 0);
        QVERIFY(w.model->isPreparingPins());
        QVERIFY(!w.refreshButton->isEnabled());
        QCOMPARE(node->requestCount(QStringLiteral("/refs")), 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.model->rowCount(), rows, 30000);
        // The window's part follows in a later turn of the event loop.
        QTRY_VERIFY(w.refreshButton->isEnabled());
        QCOMPARE(w.proxy->rowCount(), rows);
        QVERIFY(statusMessages(*w.window).last().startsWith(QStringLiteral("Loaded %1 pin(s) \u2014 ").arg(rows)));
        QTRY_VERIFY(node->requestCount(QStringLiteral("/refs")) > 0);
        QVERIFY(askedCids(QStringLiteral("/refs")).contains(pins.first().cid));
    }

    void largeTableAsksForAllMetadata()
    {
        // A table too large to queue in one go is worked through over several turns of the event
        // loop; every row is asked for in the end, and the window answers meanwhile.
        pins = numberedPins(QStringLiteral("bafyr"), 40000, QStringLiteral("recursive"));
        node->route(QStringLiteral("/dag/stat"), FakeKuboNode::held());
        node->route(QStringLiteral("/files/stat"), FakeKuboNode::held());
        Window w = openLoadedWindow();
        QCOMPARE(w.model->rowCount(), 40000);
        QTRY_VERIFY_WITH_TIMEOUT(
            w.countLabel->text().contains(QStringLiteral("Metadata loaded: 0/40000 CIDs")), 20000);
    }

    void metadataRequestsFollowTheAnswers()
    {
        // The client is given a few requests beyond its slots, never the whole table: the rest
        // follow the answers, and every row is asked about once.
        constexpr int rows = 500;
        pins = numberedPins(QStringLiteral("bafyd"), rows, QStringLiteral("direct"));
        node->route(QStringLiteral("/dag/stat"), FakeKuboNode::held());
        node->route(QStringLiteral("/files/stat"), FakeKuboNode::held());
        Window w = openLoadedWindow();
        QTRY_VERIFY(node->heldCount(QStringLiteral("/dag/stat")) > 0);
        QTRY_VERIFY(node->heldCount(QStringLiteral("/files/stat")) > 0);
        for (const int waiting : { w.client->waitingSizeRequests(), w.client->waitingKindRequests() }) {
            QVERIFY2(waiting > 0 && waiting <= 64, qPrintable(QString::number(waiting)));
        }

        const auto answerWhatIsHeld = [&] {
            node->releaseHeld(QStringLiteral("/dag/stat"), FakeKuboNode::json("{\"TotalSize\":2048}"));
            node->releaseHeld(QStringLiteral("/files/stat"), FakeKuboNode::json("{\"Type\":\"file\"}"));
            return w.countLabel->text().contains(QStringLiteral("Metadata loaded: %1/%1 CIDs").arg(rows));
        };
        QTRY_VERIFY_WITH_TIMEOUT(answerWhatIsHeld(), 20000);
        QCOMPARE(node->requestCount(QStringLiteral("/dag/stat")), rows);
        QCOMPARE(node->requestCount(QStringLiteral("/files/stat")), rows);
        QCOMPARE(w.client->waitingSizeRequests(), 0);
    }

    void largeTableIsReplacedWhileTheOldOneIsFreed()
    {
        // The rows of a large table are released on a thread of their own when the next load
        // replaces them; the new rows are there at once.
        PinModel model;
        QList<PinEntry> rows;
        for (int i = 0; i < 60000; ++i) {
            PinEntry entry;
            entry.cid = QStringLiteral("bafy%1").arg(i);
            entry.type = QStringLiteral("recursive");
            entry.dagSize = 10;
            rows.append(entry);
        }
        model.setPins(rows);
        QCOMPARE(model.knownDagSizeTotal(), 600000);
        rows = {};
        // Shares its text with a row: once the rows are freed, the text is this copy's alone.
        const QString witness = model.pinAt(0)->cid;
        QVERIFY(!witness.isDetached());
        PinEntry single;
        single.cid = QStringLiteral("bafynext");
        model.setPins({ single });
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.pinAt(0)->cid, QStringLiteral("bafynext"));
        QCOMPARE(model.knownDagSizeTotal(), 0);
        // The old rows go without this thread's event loop ever running.
        const QDeadlineTimer deadline(20000);
        while (!witness.isDetached() && !deadline.hasExpired())
            QThread::msleep(1);
        QVERIFY(witness.isDetached());
        model.setPins(rows); // an empty table
        QCOMPARE(model.rowCount(), 0);
    }

    void applicationInBackgroundStopsRepaints()
    {
        Window w = openLoadedWindow(QStringLiteral("pinned"), false);
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QVERIFY(!w.table->updatesEnabled());
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        QVERIFY(w.table->updatesEnabled());
    }
};

QTEST_MAIN(TestRefreshCycle)
#include "tst_refreshcycle.moc"
