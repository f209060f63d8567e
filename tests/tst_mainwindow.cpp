#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include "appsettings.h"
#include "connectionstatusdot.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "modaldialogdriver.h"
#include "pinmodel.h"
#include "splitactionbutton.h"
#include "testsettings.h"

namespace {

QComboBox* comboWithData(QWidget& window, const QString& data)
{
    const QList<QComboBox*> combos = window.findChildren<QComboBox*>();
    for (QComboBox* combo : combos) {
        if (combo->findData(data) >= 0)
            return combo;
    }
    return nullptr;
}

QAction* actionNamed(QWidget& window, const QString& text)
{
    const QList<QAction*> actions = window.findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

PinFilterProxyModel* proxyOf(QWidget& window)
{
    return qobject_cast<PinFilterProxyModel*>(window.findChild<QTableView*>()->model());
}

QString statusText(QWidget& window)
{
    return window.findChild<QLabel*>(QStringLiteral("statusLabel"))->text();
}

QString logMessage(const QString& line)
{
    return line.mid(QStringLiteral("yyyy-MM-dd hh:mm:ss  ").size());
}

} // namespace

// The main window: how it is built, its settings, and its status line, banner and logs.
class TestMainWindow : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        QCoreApplication::setApplicationName(QStringLiteral("Vaxel"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
    }

    void init()
    {
        appSettings().clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::text(QByteArray()));
        node->route(QStringLiteral("/id"),
            FakeKuboNode::json("{\"ID\":\"12D3KooWTest\",\"AgentVersion\":\"kubo/0.40\"}"));
        // Every window of these tests talks to the fake node only.
        QSettings stored = appSettings();
        stored.setValue(QStringLiteral("host"), node->host());
        stored.setValue(QStringLiteral("port"), node->port());
    }

    void cleanup()
    {
        delete node;
        node = nullptr;
    }

    void buildsWithNoStoredSettings()
    {
        appSettings().clear();
        {
            MainWindow window;
            auto* client = window.findChild<IpfsClient*>();
            QCOMPARE(client->baseUrl(), QStringLiteral("http://127.0.0.1:5001/api/v0"));
            // The first refresh is still to come: let it reach the fake node, not port 5001.
            client->setEndpoint(node->host(), node->port());
            QVERIFY(window.windowState() & Qt::WindowMaximized);
            QCOMPARE(window.windowTitle(), QStringLiteral("Vaxel"));
            QCOMPARE(window.minimumSize(), QSize(800, 520));
            QCOMPARE(
                comboWithData(window, QStringLiteral("unpinned"))->currentText(), QStringLiteral("Pinned"));
            QComboBox* filter = comboWithData(window, QStringLiteral("recursive+direct"));
            QCOMPARE(filter->currentText(), QStringLiteral("Recursive+Direct"));
            QVERIFY(filter->isEnabled());
            QCOMPARE(proxyOf(window)->currentTypeFilter(), QStringLiteral("recursive+direct"));
            QCOMPARE(proxyOf(window)->filterCaseSensitivity(), Qt::CaseInsensitive);
            QCOMPARE(window.findChild<QTimer*>(QStringLiteral("autoRefreshTimer"))->isActive(), false);

            // The first refresh is scheduled 200 ms after construction, not run inside it.
            QTimer* firstRefresh = window.findChild<QTimer*>(QStringLiteral("firstRefreshTimer"));
            QVERIFY(firstRefresh);
            QVERIFY(firstRefresh->isActive());
            QVERIFY(firstRefresh->isSingleShot());
            QCOMPARE(firstRefresh->interval(), 200);

            QCOMPARE(statusText(window), QStringLiteral("Ready"));
            QCOMPARE(window.statusLog().size(), 1);
            QCOMPARE(logMessage(window.statusLog().first()), QStringLiteral("Ready"));
            QVERIFY(window.findChild<QLabel*>(QStringLiteral("notification"))->isHidden());
            QCOMPARE(window.findChild<QLabel*>(QStringLiteral("countLabel"))->text(),
                QStringLiteral("No pins loaded"));
            QVERIFY(window.findChild<QLabel*>(QStringLiteral("statsLine1"))->isHidden());
            QCOMPARE(window.findChild<QLabel*>(QStringLiteral("peerIdLabel"))->text(),
                QStringLiteral("Not connected"));
            // Texts that come from the node (errors, agent version) are never read as markup.
            for (const char* name : { "peerIdLabel", "statusLabel", "notification" })
                QCOMPARE(window.findChild<QLabel*>(QLatin1String(name))->textFormat(), Qt::PlainText);
            auto* dot = window.findChild<ConnectionStatusDot*>(QStringLiteral("statusIcon"));
            QCOMPARE(dot->currentState(), ConnectionStatusDot::Unknown);
            QVERIFY(dot->toolTip().startsWith(
                QStringLiteral("Connection: Unknown\nWaiting for first connection check\nUpdated: ")));

            for (const QString& text : { QStringLiteral("Publish to &IPNS..."),
                     QStringLiteral("Unpin selected"), QStringLiteral("Unpin all listed CIDs") })
                QVERIFY2(!actionNamed(window, text)->isEnabled(), qPrintable(text));
            QVERIFY(actionNamed(window, QStringLiteral("Add to &IPFS\u2026"))->isEnabled());
            QCOMPARE(actionNamed(window, QStringLiteral("&Settings..."))->shortcut(),
                QKeySequence(Qt::CTRL | Qt::Key_Comma));
            QCOMPARE(window.findChildren<SplitActionButton*>().size(), 7);

            QTableView* table = window.findChild<QTableView*>();
            QVERIFY(table->isSortingEnabled());
            QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 1);
            QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
            // The initial widths, or more where a header text or a CIDv1 needs it.
            const QList<QPair<int, int>> floors { { 0, 420 }, { 1, 52 }, { 2, 88 }, { 4, 100 } };
            for (const auto& [column, floor] : floors) {
                const int width = table->columnWidth(column);
                QVERIFY(width >= floor);
                QVERIFY(width >= table->horizontalHeader()->sectionSizeHint(column));
            }
            const QString cidV1
                = QStringLiteral("bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi");
            QVERIFY(table->columnWidth(0)
                > QFontMetrics(QFont(QStringLiteral("Courier New"), 12)).horizontalAdvance(cidV1));
            QCOMPARE(table->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
            QTRY_VERIFY(!window.findChild<QTimer*>(QStringLiteral("firstRefreshTimer")));
        }

        // The destructor stores the settings of the run.
        QSettings stored = appSettings();
        QCOMPARE(stored.value(QStringLiteral("host")).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(stored.value(QStringLiteral("port")).toInt(), int(node->port()));
        QCOMPARE(stored.value(QStringLiteral("contentMode")).toString(), QStringLiteral("pinned"));
        QCOMPARE(stored.value(QStringLiteral("typeFilter")).toString(), QStringLiteral("recursive+direct"));
        QCOMPARE(stored.value(QStringLiteral("autoRefresh")).toBool(), false);
        QCOMPARE(stored.value(QStringLiteral("loadMetadata")).toBool(), true);
        QCOMPARE(stored.value(QStringLiteral("http/sendOrigin")).toBool(), false);
        QCOMPARE(stored.value(QStringLiteral("http/originValue")).toString(), QStringLiteral("Vaxel 1.1.4"));
        QCOMPARE(stored.value(QStringLiteral("refreshInterval")).toInt(), 30);
        QVERIFY(!stored.value(QStringLiteral("geometry")).toByteArray().isEmpty());
    }

    void buildsFromStoredSettings()
    {
        QByteArray geometry;
        {
            MainWindow shaper;
            shaper.setWindowState(Qt::WindowNoState);
            shaper.setGeometry(40, 50, 900, 600);
            geometry = shaper.saveGeometry();
        }
        {
            QSettings stored = appSettings();
            stored.clear();
            stored.setValue(QStringLiteral("host"), node->host());
            stored.setValue(QStringLiteral("port"), node->port());
            stored.setValue(QStringLiteral("contentMode"), QStringLiteral("unpinned"));
            stored.setValue(QStringLiteral("typeFilter"), QStringLiteral("direct"));
            stored.setValue(QStringLiteral("autoRefresh"), true);
            stored.setValue(QStringLiteral("refreshInterval"), 7);
            stored.setValue(QStringLiteral("loadMetadata"), false);
            stored.setValue(QStringLiteral("http/sendOrigin"), true);
            stored.setValue(QStringLiteral("http/originValue"), QStringLiteral("   "));
            stored.setValue(QStringLiteral("geometry"), geometry);
        }
        {
            MainWindow window;
            // Views other than the defaults start no load of their own: the first comes from its timer.
            QVERIFY(window.rpcLog().isEmpty());
            QVERIFY(!(window.windowState() & Qt::WindowMaximized));
            QCOMPARE(window.size(), QSize(900, 600));
            QCOMPARE(window.findChild<IpfsClient*>()->baseUrl(),
                QStringLiteral("http://127.0.0.1:%1/api/v0").arg(node->port()));
            QCOMPARE(comboWithData(window, QStringLiteral("unpinned"))->currentText(),
                QStringLiteral("Not pinned"));
            QComboBox* filter = comboWithData(window, QStringLiteral("recursive+direct"));
            QCOMPARE(filter->currentText(), QStringLiteral("Direct"));
            QVERIFY(!filter->isEnabled());
            QCOMPARE(proxyOf(window)->currentTypeFilter(), QStringLiteral("direct"));
            QTimer* autoRefresh = window.findChild<QTimer*>(QStringLiteral("autoRefreshTimer"));
            QVERIFY(autoRefresh->isActive());
            QCOMPARE(autoRefresh->interval(), 7000);
        }
        QSettings stored = appSettings();
        QCOMPARE(stored.value(QStringLiteral("port")).toInt(), int(node->port()));
        QCOMPARE(stored.value(QStringLiteral("contentMode")).toString(), QStringLiteral("unpinned"));
        QCOMPARE(stored.value(QStringLiteral("typeFilter")).toString(), QStringLiteral("direct"));
        QCOMPARE(stored.value(QStringLiteral("autoRefresh")).toBool(), true);
        QCOMPARE(stored.value(QStringLiteral("refreshInterval")).toInt(), 7);
        QCOMPARE(stored.value(QStringLiteral("loadMetadata")).toBool(), false);
        QCOMPARE(stored.value(QStringLiteral("http/sendOrigin")).toBool(), true);
        // Blanks only were replaced by the default value, and that is what is written back.
        QCOMPARE(stored.value(QStringLiteral("http/originValue")).toString(), QStringLiteral("Vaxel 1.1.4"));
    }

    void storedIntervalBelowOneSecond_data()
    {
        QTest::addColumn<int>("stored");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void storedIntervalBelowOneSecond()
    {
        // A hand-edited interval must not make auto-refresh fire without pause; the stored
        // value itself is left as it was.
        QFETCH(int, stored);
        {
            QSettings settings = appSettings();
            settings.setValue(QStringLiteral("autoRefresh"), true);
            settings.setValue(QStringLiteral("refreshInterval"), stored);
        }
        {
            MainWindow window;
            QTimer* autoRefresh = window.findChild<QTimer*>(QStringLiteral("autoRefreshTimer"));
            QVERIFY(autoRefresh->isActive());
            QCOMPARE(autoRefresh->interval(), 1000);
        }
        QCOMPARE(appSettings().value(QStringLiteral("refreshInterval")).toInt(), stored);
    }

    void storedTextsThatNoItemCarries()
    {
        {
            QSettings stored = appSettings();
            stored.setValue(QStringLiteral("contentMode"), QStringLiteral("Pinned"));
            stored.setValue(QStringLiteral("typeFilter"), QStringLiteral("everything"));
        }
        {
            MainWindow window;
            QCOMPARE(comboWithData(window, QStringLiteral("unpinned"))->currentIndex(), 0);
            QComboBox* filter = comboWithData(window, QStringLiteral("recursive+direct"));
            QCOMPARE(filter->currentIndex(), 0);
            // The member keeps the stored text: not "pinned", so the filter combo is off.
            QVERIFY(!filter->isEnabled());
            QCOMPARE(proxyOf(window)->currentTypeFilter(), QStringLiteral("everything"));
        }
        QCOMPARE(appSettings().value(QStringLiteral("typeFilter")).toString(), QStringLiteral("everything"));
    }

    void toolBarChoices()
    {
        MainWindow window;
        QComboBox* content = comboWithData(window, QStringLiteral("unpinned"));
        QComboBox* filter = comboWithData(window, QStringLiteral("recursive+direct"));
        content->setCurrentIndex(content->findData(QStringLiteral("unpinned")));
        QVERIFY(!filter->isEnabled());
        content->setCurrentIndex(content->findData(QStringLiteral("pinned")));
        QVERIFY(filter->isEnabled());
        filter->setCurrentIndex(filter->findData(QStringLiteral("all")));
        QCOMPARE(proxyOf(window)->currentTypeFilter(), QStringLiteral("all"));

        auto* search = window.findChild<QLineEdit*>();
        QRadioButton* byName = nullptr;
        QRadioButton* byCid = nullptr;
        for (QRadioButton* radio : window.findChildren<QRadioButton*>())
            (radio->text() == u"Name" ? byName : byCid) = radio;
        QVERIFY(byCid->isChecked());
        QCOMPARE(search->placeholderText(), QStringLiteral("Filter by CID\u2026"));
        byName->click();
        QVERIFY(!byCid->isChecked());
        QCOMPARE(proxyOf(window)->currentSearchMode(), PinFilterProxyModel::SearchByName);
        QCOMPARE(search->placeholderText(), QStringLiteral("Filter by name\u2026"));
        byCid->click();
        QCOMPARE(proxyOf(window)->currentSearchMode(), PinFilterProxyModel::SearchByCid);
        QCOMPARE(search->placeholderText(), QStringLiteral("Filter by CID\u2026"));
    }

    void toolBarOverflowButtonCanBeSeen()
    {
        // A window too narrow for the tool bar puts the rest behind its overflow button, drawn in
        // the palette's button text colour so that it shows on the dark palette too.
        MainWindow window;
        window.setWindowState(Qt::WindowNoState);
        window.resize(800, 520);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* toolBar = window.findChild<QToolBar*>();
        auto* overflow = toolBar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
        QVERIFY(overflow);
        QTRY_VERIFY(overflow->isVisible());
        const QColor text = overflow->palette().color(QPalette::ButtonText);
        const QImage image = overflow->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
        int inkPixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255 && pixel.rgb() == text.rgb())
                    ++inkPixels;
            }
        }
        QVERIFY2(inkPixels >= 4, qPrintable(QString::number(inkPixels)));

        // The tool bar keeps it through relayouts.
        const qint64 iconKey = overflow->icon().cacheKey();
        window.resize(2600, 700);
        QTRY_VERIFY(!overflow->isVisible());
        window.resize(820, 520);
        QTRY_VERIFY(overflow->isVisible());
        QCOMPARE(overflow->icon().cacheKey(), iconKey);
    }

    void refreshKeysAreBoundOnceEach()
    {
        MainWindow window;
        QList<QKeySequence> keys;
        for (const QShortcut* shortcut : window.findChildren<QShortcut*>()) {
            QCOMPARE(shortcut->context(), Qt::ApplicationShortcut);
            QVERIFY2(!keys.contains(shortcut->key()), qPrintable(shortcut->key().toString()));
            keys << shortcut->key();
        }
        QVERIFY(keys.contains(QKeySequence(Qt::Key_F5)));
        QVERIFY(keys.contains(QKeySequence(QKeySequence::Refresh)));
    }

    void statusMessagesAreLogged()
    {
        MainWindow window;
        QSignalSpy appended(&window, &MainWindow::statusLogAppended);
        const QString odd = QStringLiteral("  50% done <b>%1</b>  ");
        window.setStatusMessage(odd);
        window.setStatusMessage(QStringLiteral("Ready"));
        QCOMPARE(appended.size(), 2);
        const QString line = appended.first().first().toString();
        QVERIFY(QDateTime::fromString(line.left(19), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
        QCOMPARE(line.mid(19, 2), QStringLiteral("  "));
        QCOMPARE(logMessage(line), odd);
        QCOMPARE(window.statusLog().size(), 3);
        QCOMPARE(logMessage(window.statusLog().last()), QStringLiteral("Ready"));
        window.clearStatusLog();
        QVERIFY(window.statusLog().isEmpty());
        QCOMPARE(appended.size(), 2);
    }

    void statusReturnsToReady()
    {
        MainWindow window;
        // The first refresh writes status messages of its own; keep it out of this count.
        window.findChild<QTimer*>(QStringLiteral("firstRefreshTimer"))->stop();
        const auto copied
            = [](const QString& text) { return text.contains(QStringLiteral("copied to clipboard")); };
        const auto error = [](const QString& text) { return text.startsWith(QStringLiteral("Error: ")); };

        // A transient message alone returns to "Ready".
        window.setStatusMessage(QStringLiteral("2 CID(s) copied to clipboard"));
        window.scheduleStatusReset(50, copied);
        QTRY_COMPARE(statusText(window), QStringLiteral("Ready"));
        QCOMPARE(logMessage(window.statusLog().last()), QStringLiteral("Ready"));

        // A later message of another kind survives the earlier timer: only the later catch-all
        // reset turns it into "Ready".
        window.setStatusMessage(QStringLiteral("1 CID(s) copied to clipboard"));
        window.scheduleStatusReset(30, copied);
        window.setStatusMessage(QStringLiteral("Fetching pins"));
        window.clearStatusLog();
        window.scheduleStatusReset(150, [](const QString&) { return true; });
        QTRY_COMPARE(statusText(window), QStringLiteral("Ready"));
        QCOMPARE(window.statusLog().size(), 1);

        // A later message of the same kind is reset by the earlier timer.
        window.setStatusMessage(QStringLiteral("Error: first"));
        window.scheduleStatusReset(100, error);
        window.setStatusMessage(QStringLiteral("Error: second"));
        window.scheduleStatusReset(60000, error);
        QTRY_COMPARE(statusText(window), QStringLiteral("Ready"));
    }

    void notificationBanner()
    {
        MainWindow window;
        auto* banner = window.findChild<QLabel*>(QStringLiteral("notification"));
        const int logged = int(window.statusLog().size());
        window.showNotification(QStringLiteral("Node <unreachable>"), true);
        QVERIFY(!banner->isHidden());
        QCOMPARE(banner->text(), QStringLiteral("\u26A0  Node <unreachable>"));
        QCOMPARE(banner->textFormat(), Qt::PlainText);
        window.showNotification(QStringLiteral("Added"), false);
        QCOMPARE(banner->text(), QStringLiteral("Added"));
        QCOMPARE(window.statusLog().size(), logged);
    }

    void connectionTooltip()
    {
        MainWindow window;
        auto* dot = window.findChild<ConnectionStatusDot*>(QStringLiteral("statusIcon"));
        window.setConnectionDotState(ConnectionStatusDot::Checking, QStringLiteral("   "));
        QCOMPARE(dot->currentState(), ConnectionStatusDot::Checking);
        QStringList lines = dot->toolTip().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), QStringLiteral("Connection: Checking"));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("Updated: ")));
        QVERIFY(QTime::fromString(lines.at(1).mid(9), QStringLiteral("hh:mm:ss")).isValid());

        window.setConnectionDotState(
            ConnectionStatusDot::Disconnected, QStringLiteral("  Disconnected from x  "));
        lines = dot->toolTip().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QStringLiteral("Connection: Disconnected"));
        QCOMPARE(lines.at(1), QStringLiteral("Disconnected from x"));
        window.setConnectionDotState(ConnectionStatusDot::State(7), QString());
        QVERIFY(dot->toolTip().startsWith(QStringLiteral("Connection: \nUpdated: ")));
    }

    void peerLabelPressesAreConsumed()
    {
        MainWindow window;
        auto* peer = window.findChild<QLabel*>(QStringLiteral("peerIdLabel"));
        QObject* filter = &window;
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        const int logged = int(window.statusLog().size());
        const auto press = [](Qt::MouseButton button) {
            return QMouseEvent(
                QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), button, button, Qt::NoModifier);
        };
        QMouseEvent right = press(Qt::RightButton);
        QVERIFY(filter->eventFilter(peer, &right));
        // No identity yet: a left press copies nothing either, and is consumed as well.
        QMouseEvent left = press(Qt::LeftButton);
        QVERIFY(filter->eventFilter(peer, &left));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
        QCOMPARE(window.statusLog().size(), logged);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
            Qt::NoButton, Qt::NoModifier);
        QVERIFY(!filter->eventFilter(peer, &release));

        // Once the node is known, a left press copies its id; the status bar covers the status
        // line for a second without changing or logging it.
        QMetaObject::invokeMethod(&window, "onNodeInfoReceived",
            Q_ARG(QString, QStringLiteral("12D3KooWPeer")), Q_ARG(QString, QStringLiteral("kubo/0.40")));
        const QString status = statusText(window);
        QMouseEvent known = press(Qt::LeftButton);
        QVERIFY(filter->eventFilter(peer, &known));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12D3KooWPeer"));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Copied to clipboard"));
        QCOMPARE(statusText(window), status);
        QCOMPARE(window.statusLog().size(), logged);
        QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().isEmpty(), 3000);

        QMouseEvent elsewhere = press(Qt::LeftButton);
        QVERIFY(!filter->eventFilter(window.findChild<QLabel*>(QStringLiteral("countLabel")), &elsewhere));
    }

    void rpcRequestsAreLogged()
    {
        MainWindow window;
        QSignalSpy appended(&window, &MainWindow::rpcLogAppended);
        auto* client = window.findChild<IpfsClient*>();
        client->setEndpoint(node->host(), node->port());
        window.clearRpcLog();
        client->fetchNodeInfo();
        QTRY_COMPARE(appended.size(), 1);
        const QString line = appended.first().first().toString();
        QVERIFY2(line.endsWith(QStringLiteral("] POST http://127.0.0.1:%1/api/v0/id").arg(node->port())),
            qPrintable(line));
        QCOMPARE(window.rpcLog(), QStringList { line });
        window.clearRpcLog();
        QVERIFY(window.rpcLog().isEmpty());
    }

    void childWindowsGoBeforeTheMembers()
    {
        auto* window = new MainWindow;
        auto* child = new QDialog(window);
        child->setAttribute(Qt::WA_DeleteOnClose);
        child->show();
        bool destroyed = false;
        connect(child, &QObject::destroyed, window, [&destroyed, window] {
            destroyed = true;
            window->setStatusMessage(QStringLiteral("Child window closed"));
            QCOMPARE(window->statusLog().size(), 1);
        });
        delete window;
        QVERIFY(destroyed);
    }

    void aboutBox()
    {
        MainWindow window;
        QString text;
        QStringList buttons;
        ModalDialogDriver::answerNext([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("About Vaxel"));
            QCOMPARE(box->textFormat(), Qt::RichText);
            text = box->text();
            for (QAbstractButton* button : box->buttons())
                buttons << button->text();
            QCOMPARE(box->escapeButton(), box->button(QMessageBox::Close));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Close));
            for (QLabel* label : box->findChildren<QLabel*>())
                QVERIFY(label->openExternalLinks());
            box->button(QMessageBox::Close)->click();
        });
        actionNamed(window, QStringLiteral("About Vaxel"))->trigger();
        QVERIFY(text.startsWith(QStringLiteral("<h3>Vaxel 1.1.4</h3><p>A Qt-based desktop application")));
        QVERIFY(text.contains(QStringLiteral("<p>Supports Linux, macOS and Windows.</p><p><a href=\"")));
        QVERIFY(buttons.contains(QStringLiteral("Check for update")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
