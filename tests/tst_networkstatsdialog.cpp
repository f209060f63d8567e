#include <QtTest>

#include "displaytext.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "modaldialogdriver.h"
#include "networkfixtures.h"
#include "networkstatsdialog.h"
#include "testsettings.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

using namespace Qt::StringLiterals;
using namespace NetworkFixtures;

namespace {

// Answers the save dialog that the next action opens: types `choose` into its name field
// (or cancels when empty) and says yes to a question about replacing the file.
struct SaveDialogDriver {
    QString choose;
    QString caption;
    QString proposed;
    QStringList filters;
    bool seen = false;
};

void driveSaveDialog(SaveDialogDriver* driver, int timeoutMs = 20000)
{
    ModalDialogDriver::answerNext(
        [driver](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog)
                return;
            driver->seen = true;
            driver->caption = dialog->windowTitle();
            driver->proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            driver->filters = dialog->nameFilters();
            if (driver->choose.isEmpty()) {
                dialog->reject();
                return;
            }
            auto* nameEdit = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s);
            QVERIFY(nameEdit);
            nameEdit->setText(driver->choose); // typed, as a user would
            ModalDialogDriver::answerNext(
                [](QWidget* question) {
                    if (auto* box = qobject_cast<QMessageBox*>(question))
                        box->button(QMessageBox::Yes)->click();
                },
                dialog, 500);
            static_cast<QDialog*>(dialog)->accept(); // runs the file dialog's own checks
        },
        nullptr, timeoutMs);
}

} // namespace

class TestNetworkStatsDialog : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    NetworkStatsDialog* dialog = nullptr;
    QSignalSpy* status = nullptr;
    QTemporaryDir workFolder; // the save dialog starts in the current folder

    template <typename T> T* child(const char* name) const
    {
        T* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    QLabel* statusLabel() const { return child<QLabel>("statusLabel"); }
    QPushButton* refresh() const { return child<QPushButton>("refreshButton"); }
    QString jsonText() const { return child<QTextEdit>("jsonEdit")->toPlainText(); }
    QJsonObject shownSnapshot() const { return QJsonDocument::fromJson(jsonText().toUtf8()).object(); }
    QStringList statusMessages() const
    {
        QStringList list;
        for (const auto& args : *status)
            list << args.first().toString();
        return list;
    }

    void routeHealthy()
    {
        node->route(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(3))));
        node->route(u"/stats/dht"_s, FakeKuboNode::json(dhtLinesBody(1, 2, 3)));
        node->route(u"/bitswap/stat"_s, FakeKuboNode::json(toJson(bitswapReply(2, 5))));
    }

    void openLoaded()
    {
        dialog->show();
        QTRY_VERIFY(refresh()->isEnabled());
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        QVERIFY(workFolder.isValid());
        QVERIFY(QDir::setCurrent(workFolder.path()));
    }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
        dialog = new NetworkStatsDialog(client, nullptr);
        status = new QSignalSpy(dialog, &NetworkStatsDialog::statusMessageRequested);
    }

    void cleanup()
    {
        delete status;
        delete dialog;
        delete client;
        delete node;
    }

    void partialAnswersShowAtOnce()
    {
        for (const QString& command : { u"/swarm/peers"_s, u"/stats/dht"_s, u"/bitswap/stat"_s })
            node->route(command, FakeKuboNode::held());
        QCOMPARE(child<QLabel>("routingLabel")->text(), u"Routing: \u2014"_s);
        dialog->show();
        QVERIFY(!refresh()->isEnabled());
        QCOMPARE(statusLabel()->text(), u"Loading swarm, DHT, and bitswap stats..."_s);
        QCOMPARE(statusMessages(), QStringList { u"Fetching network diagnostics..."_s });
        QTRY_COMPARE(node->heldCount(), 3);
        QCOMPARE(node->heldRequests(u"/stats/dht"_s).first().rawQuery, QString()); // both DHTs
        QCOMPARE(node->heldRequests(u"/bitswap/stat"_s).first().rawQuery, u"verbose=false&human=false"_s);

        // 20 peers of which 7 connected.
        node->releaseHeld(u"/stats/dht"_s, FakeKuboNode::json(toJson(dhtObject(u"wan"_s, 1, 20))));
        QTRY_VERIFY(!jsonText().isEmpty());
        QJsonObject snapshot = shownSnapshot();
        QCOMPARE(snapshot[u"dht"_s][u"summary"_s][u"total_peers"_s].toInt(), 20);
        // What has not answered yet is unknown, not zero.
        QVERIFY(snapshot[u"swarm"_s][u"summary"_s][u"count"_s].isNull());
        QVERIFY(snapshot[u"bitswap"_s][u"counters"_s][u"data_received_bytes"_s].isNull());
        QCOMPARE(child<QLabel>("routingLabel")->text(), u"Routing: DHT peers = 7, DHT views = 1"_s);
        QCOMPARE(child<QLabel>("connectivityLabel")->text(), u"Connectivity: swarm peers = unknown"_s);
        QCOMPARE(statusLabel()->text(), u"Loading swarm, DHT, and bitswap stats..."_s);
        QVERIFY(!refresh()->isEnabled());

        node->releaseHeld(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(3))));
        node->releaseHeld(u"/bitswap/stat"_s, FakeKuboNode::json(toJson(bitswapReply(2, 5))));
        QTRY_VERIFY(refresh()->isEnabled());
        QVERIFY(QRegularExpression(u"^Network diagnostics loaded at \\d\\d:\\d\\d:\\d\\d$"_s)
                    .match(statusLabel()->text())
                    .hasMatch());
        QCOMPARE(statusLabel()->styleSheet(), QString());
        QCOMPARE(statusMessages().last(), u"Network diagnostics loaded"_s);
        QCOMPARE(child<QLabel>("connectivityLabel")->text(), u"Connectivity: swarm peers = 3"_s);
        QCOMPARE(child<QLabel>("exchangeLabel")->text(),
            u"Exchange: bitswap peers = 2, wantlist = 5, health = good (85)"_s);

        // Shown again with a snapshot: no reload.
        dialog->hide();
        dialog->show();
        QTest::qWait(30);
        QCOMPARE(node->requestCount(u"/swarm/peers"_s), 1);
    }

    // Tens of thousands of lines go into the view over several turns of the event loop: the window
    // says it is loaded only once all of them are in, and answers that come meanwhile replace the
    // text rather than add to it.
    void aBusyNodesSnapshotIsShownWhole()
    {
        node->route(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(5000))));
        node->route(u"/stats/dht"_s, FakeKuboNode::held());
        node->route(u"/bitswap/stat"_s, FakeKuboNode::held());
        dialog->show();
        QTRY_VERIFY(!jsonText().isEmpty());
        node->releaseHeld(u"/stats/dht"_s, FakeKuboNode::json(dhtLinesBody(2, 8, 20)));
        node->releaseHeld(u"/bitswap/stat"_s, FakeKuboNode::json(toJson(bitswapReply(2, 150))));
        QTRY_VERIFY_WITH_TIMEOUT(refresh()->isEnabled(), 30000);

        const QJsonObject snapshot = shownSnapshot();
        QCOMPARE(snapshot[u"swarm"_s][u"summary"_s][u"count"_s].toInt(), 5000);
        const QJsonArray peers = snapshot[u"swarm"_s][u"peers"_s].toArray();
        QCOMPARE(peers.size(), 5000);
        QVERIFY(peers.last()[u"addr"_s].toString().contains("12D3KooWpeer4999"_L1));
        QCOMPARE(snapshot[u"dht"_s][u"summary"_s][u"total_peers"_s].toInt(), 2 * 8 * 20);
        QCOMPARE(snapshot[u"bitswap"_s][u"summary"_s][u"wantlist_size"_s].toInt(), 150);
        QCOMPARE(child<QLabel>("exchangeLabel")->text(),
            u"Exchange: bitswap peers = 2, wantlist = 150, health = degraded (60)"_s);
        QVERIFY(statusLabel()->text().startsWith("Network diagnostics loaded at "_L1));
        child<QPushButton>("copyButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), jsonText());
    }

    void oneFailureLeavesPartialErrors()
    {
        routeHealthy();
        node->route(u"/bitswap/stat"_s, FakeKuboNode::kuboError(u"bitswap offline"_s));
        openLoaded();
        QCOMPARE(statusLabel()->text(), u"Network diagnostics loaded with partial errors."_s);
        QCOMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QCOMPARE(statusMessages().last(), u"Network diagnostics loaded with errors"_s);
        const QJsonObject snapshot = shownSnapshot();
        const QString error = snapshot[u"endpoint_status"_s][u"bitswap_stat"_s][u"error"_s].toString();
        QVERIFY2(error.startsWith("Failed to get bitswap stats: "_L1), qPrintable(error));
        QCOMPARE(snapshot[u"health"_s][u"signals"_s][2][u"message"_s].toString(), error);
        QVERIFY(snapshot[u"endpoint_status"_s][u"swarm_peers"_s][u"ok"_s].toBool());
        QVERIFY(child<QLabel>("exchangeLabel")
                    ->text()
                    .startsWith("Exchange: bitswap peers = unknown, wantlist = unknown, health = "_L1));

        // A new refresh forgets the old failure.
        routeHealthy();
        refresh()->click();
        QTRY_VERIFY(refresh()->isEnabled());
        QCOMPARE(statusMessages().last(), u"Network diagnostics loaded"_s);
        QCOMPARE(shownSnapshot()[u"endpoint_status"_s][u"bitswap_stat"_s][u"error"_s].toString(), QString());
    }

    void everyFailureSaysTheWindowFailed()
    {
        for (const QString& command : { u"/swarm/peers"_s, u"/stats/dht"_s, u"/bitswap/stat"_s })
            node->route(command, FakeKuboNode::kuboError(u"this action must be run in online mode"_s));
        openLoaded();
        QCOMPARE(statusLabel()->text(), u"Network diagnostics failed to load."_s);
        QCOMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QCOMPARE(statusMessages().last(), u"Network diagnostics failed to load"_s);
        QCOMPARE(child<QLabel>("connectivityLabel")->text(), u"Connectivity: swarm peers = unknown"_s);
        QCOMPARE(
            child<QLabel>("routingLabel")->text(), u"Routing: DHT peers = unknown, DHT views = unknown"_s);
        QCOMPARE(child<QLabel>("exchangeLabel")->text(),
            u"Exchange: bitswap peers = unknown, wantlist = unknown, health = unknown"_s);
    }

    void copyNeedsASnapshot()
    {
        QGuiApplication::clipboard()->setText(u"before"_s);
        node->route(u"/swarm/peers"_s, FakeKuboNode::never());
        node->route(u"/stats/dht"_s, FakeKuboNode::never());
        node->route(u"/bitswap/stat"_s, FakeKuboNode::never());
        dialog->show();
        status->clear();
        child<QPushButton>("copyButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);
        QVERIFY(status->isEmpty());
        SaveDialogDriver driver;
        driveSaveDialog(&driver, 100);
        child<QPushButton>("saveButton")->click();
        QTest::qWait(150);
        QVERIFY(!driver.seen); // no text, no dialog
    }

    void copyPutsTextOnClipboard()
    {
        routeHealthy();
        openLoaded();
        child<QPushButton>("copyButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), jsonText());
        QCOMPARE(statusLabel()->text(), u"Copied network snapshot JSON to clipboard."_s);
        QCOMPARE(statusMessages().last(), u"Network snapshot JSON copied"_s);
    }

    void saveWritesTheSnapshot()
    {
        routeHealthy();
        openLoaded();
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(u"snap.json"_s);
        SaveDialogDriver driver;
        driver.choose = path;
        driveSaveDialog(&driver);
        child<QPushButton>("saveButton")->click();
        QVERIFY(driver.seen);
        QCOMPARE(driver.caption, u"Save network snapshot"_s);
        QVERIFY2(QRegularExpression(u"^network-snapshot-\\d{8}-(?:[01]\\d|2[0-3])[0-5]\\d[0-5]\\d\\.json$"_s)
                     .match(driver.proposed)
                     .hasMatch(),
            qPrintable(driver.proposed));
        QCOMPARE(driver.filters, (QStringList { u"JSON files (*.json)"_s, u"All files (*)"_s }));
        QCOMPARE(statusLabel()->text(), u"Saved network snapshot: %1"_s.arg(path));
        QCOMPARE(statusMessages().last(), u"Network snapshot saved"_s);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QByteArray bytes = file.readAll();
        QCOMPARE(QString::fromUtf8(bytes), jsonText());
        QJsonParseError error;
        const QJsonObject saved = QJsonDocument::fromJson(bytes, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(saved[u"source"_s].toString(), u"network_snapshot"_s);
        QCOMPARE(saved[u"swarm"_s][u"summary"_s][u"count"_s].toInt(), 3);
        QVERIFY(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"_s)
                    .match(saved[u"timestamp"_s].toString())
                    .hasMatch());
    }

    void saveCancelledOrFailing_data()
    {
        QTest::addColumn<QString>("choose");
        QTest::addColumn<QString>("label"); // start of the label afterwards
        QTest::newRow("cancelled") << QString() << u"Network diagnostics loaded at"_s;
        QTest::newRow("missing folder")
            << u"/nonexistent-folder-of-vaxel-tests/snap.json"_s << u"Failed to save snapshot: "_s;
        // A full disk is only seen when the bytes are written.
        if (QFileInfo::exists(u"/dev/full"_s))
            QTest::newRow("disk full") << u"/dev/full"_s << u"Failed to save snapshot: "_s;
    }
    void saveCancelledOrFailing()
    {
        QFETCH(QString, choose);
        QFETCH(QString, label);
        routeHealthy();
        openLoaded();
        status->clear();
        SaveDialogDriver driver;
        driver.choose = choose;
        driveSaveDialog(&driver);
        child<QPushButton>("saveButton")->click();
        QVERIFY(driver.seen);
        QVERIFY2(statusLabel()->text().startsWith(label), qPrintable(statusLabel()->text()));
        if (choose.isEmpty()) {
            QVERIFY(status->isEmpty());
            return;
        }
        QCOMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QCOMPARE(statusMessages(), QStringList { u"Failed to save network snapshot"_s });
    }
};

QTEST_MAIN(TestNetworkStatsDialog)
#include "tst_networkstatsdialog.moc"
