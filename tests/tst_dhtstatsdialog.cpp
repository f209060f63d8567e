#include <QtTest>

#include "dhtstatsdialog.h"
#include "dhttables.h"
#include "displaytext.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "networkfixtures.h"
#include "testsettings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>

using namespace Qt::StringLiterals;

namespace {

const QString kArgKey = u"DhtStatsDialog/dhtArg"_s;

QJsonObject peer(const QString& id, const QString& agent, const QJsonValue& connected = QJsonValue::Undefined)
{
    QJsonObject object { { u"ID"_s, id }, { u"AgentVersion"_s, agent }, { u"LastQueriedAt"_s, u"q"_s },
        { u"LastUsefulAt"_s, u"u"_s } };
    if (!connected.isUndefined())
        object.insert(u"Connected"_s, connected);
    return object;
}

QJsonObject bucket(const QString& lastRefresh, const QJsonArray& peers)
{
    return { { u"LastRefresh"_s, lastRefresh }, { u"Peers"_s, peers } };
}

} // namespace

class TestDhtStatsDialog : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    DhtStatsDialog* dialog = nullptr;
    QSignalSpy* status = nullptr;

    template <typename T> T* child(const char* name) const
    {
        T* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    QLabel* statusLabel() const { return child<QLabel>("statusLabel"); }
    QComboBox* combo() const { return child<QComboBox>("dhtCombo"); }
    QWidget* content() const { return child<QWidget>("contentWidget"); }
    QList<QGroupBox*> dhtBoxes() const
    {
        return content()->findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
    }

    void create()
    {
        dialog = new DhtStatsDialog(client, nullptr);
        status = new QSignalSpy(dialog, &DhtStatsDialog::statusMessageRequested);
    }

    // Shows the window answering its first load with `answer`.
    void openWith(const QJsonValue& answer)
    {
        const QByteArray body = answer.isArray() ? QJsonDocument(answer.toArray()).toJson()
                                                 : QJsonDocument(answer.toObject()).toJson();
        node->route(u"/stats/dht"_s, FakeKuboNode::json(body));
        create();
        dialog->show();
        QTRY_COMPARE(statusLabel()->text(), u"Loaded from /api/v0/stats/dht"_s);
    }

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void init()
    {
        appSettings().clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete status;
        status = nullptr;
        delete dialog;
        dialog = nullptr;
        delete client;
        delete node;
    }

    void storedChoiceDrivesFirstLoad_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("rawQuery");
        QTest::addColumn<QString>("message");
        QTest::newRow("lan") << u"lan"_s << u"lan"_s << u"arg=lan"_s << u"Fetching DHT stats (lan)\u2026"_s;
        QTest::newRow("unknown value")
            << u"LAN"_s << u"wan & lan (default)"_s << QString() << u"Fetching DHT stats\u2026"_s;
    }
    void storedChoiceDrivesFirstLoad()
    {
        QFETCH(QString, stored);
        QFETCH(QString, selected);
        QFETCH(QString, rawQuery);
        QFETCH(QString, message);
        appSettings().setValue(kArgKey, stored);
        node->route(u"/stats/dht"_s, FakeKuboNode::held());
        create();
        QCOMPARE(combo()->currentText(), selected);
        QCOMPARE(appSettings().value(kArgKey).toString(), stored); // restoring saves nothing
        dialog->show();
        QCOMPARE(statusLabel()->text(), u"Loading\u2026"_s);
        QVERIFY(!combo()->isEnabled());
        QVERIFY(!child<QPushButton>("refreshButton")->isEnabled());
        QCOMPARE(status->first().first().toString(), message);
        QTRY_COMPARE(node->heldCount(), 1);
        QCOMPARE(node->heldRequests().first().rawQuery, rawQuery);
        node->releaseHeld(u"/stats/dht"_s, FakeKuboNode::json(R"({"Name":"wan","Buckets":[]})"));
        QTRY_VERIFY(combo()->isEnabled());
        QVERIFY(child<QPushButton>("refreshButton")->isEnabled());
        QCOMPARE(status->last().first().toString(), u"DHT stats loaded"_s);
    }

    void choosingStoresAndReloads()
    {
        openWith(QJsonObject { { u"Name"_s, u"wan"_s } });
        combo()->setCurrentIndex(combo()->findText(u"wan"_s));
        QCOMPARE(appSettings().value(kArgKey).toString(), u"wan"_s);
        QTRY_COMPARE(node->requestCount(u"/stats/dht"_s), 2);
        QCOMPARE(node->requests(u"/stats/dht"_s).last().rawQuery, u"arg=wan"_s);
        QTRY_VERIFY(combo()->isEnabled());
        combo()->setCurrentIndex(0);
        QCOMPARE(appSettings().value(kArgKey).toString(), QString());
        QTRY_COMPARE(node->requestCount(u"/stats/dht"_s), 3);
        QCOMPARE(node->requests(u"/stats/dht"_s).last().rawQuery, QString());
    }

    void boxesBucketsAndPeers()
    {
        const QJsonArray answer {
            QJsonObject { { u"Buckets"_s,
                QJsonArray {
                    bucket(u"x"_s,
                        { peer(u"p1"_s, u"a"_s, true), peer(u"p2"_s, u"b"_s), peer(u"p3"_s, u"c"_s, false) }),
                    bucket(u"y"_s, {}), u"not a bucket"_s,
                    QJsonObject { { u"Peers"_s, u"a string"_s } } } } },
            42,
            QJsonObject { { u"Name"_s, u"lan"_s }, { u"Buckets"_s, QJsonArray() } },
            QJsonObject { { u"Name"_s, u"odd"_s }, { u"Buckets"_s, QJsonValue::Null } },
        };
        openWith(answer);
        const QList<QGroupBox*> boxes = dhtBoxes();
        QCOMPARE(boxes.size(), 3); // the number is skipped
        QCOMPARE(boxes.at(0)->title(), u"DHT: DHT"_s);
        QCOMPARE(boxes.at(1)->title(), u"DHT: lan"_s);
        QCOMPARE(boxes.at(2)->title(), u"DHT: odd"_s);

        const QList<QGroupBox*> buckets = boxes.at(0)->findChildren<QGroupBox*>();
        QCOMPARE(buckets.size(), 4);
        QCOMPARE(buckets.at(0)->title(), u"Bucket 0 \u2014 Last refresh: x \u2014 3 peer(s)"_s);
        QCOMPARE(buckets.at(1)->title(), u"Bucket 1 \u2014 Last refresh: y (no peers)"_s);
        QCOMPARE(buckets.at(2)->title(), u"Bucket 2 \u2014 Last refresh:  (no peers)"_s);
        QCOMPARE(buckets.at(3)->title(), u"Bucket 3 \u2014 Last refresh:  (no peers)"_s);
        QVERIFY(buckets.at(1)->findChildren<QTableWidget*>().isEmpty());

        auto* table = buckets.at(0)->findChild<QTableWidget*>();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(0)->text(), u"Peer ID"_s);
        QCOMPARE(table->horizontalHeaderItem(4)->text(), u"Last useful"_s);
        QCOMPARE(table->item(0, 0)->text(), u"p1"_s);
        QCOMPARE(table->item(0, 2)->text(), u"Yes"_s);
        QCOMPARE(table->item(1, 2)->text(), u"No"_s); // no "Connected"
        QCOMPARE(table->item(2, 3)->text(), u"q"_s);
        // Each table shows all its rows: the window scrolls, not the table.
        QTRY_COMPARE(table->verticalScrollBar()->maximum(), 0);
        QVERIFY(table->viewport()->height() >= 3 * table->rowHeight(0));

        for (int i : { 1, 2 }) {
            auto* empty = boxes.at(i)->findChild<QLabel*>();
            QVERIFY(empty);
            QCOMPARE(empty->text(), u"No buckets in this DHT."_s);
            QCOMPARE(empty->styleSheet(), hintTextStyle());
        }
        QCOMPARE(statusLabel()->styleSheet(), QString());
    }

    void peerTablesShareColumnWidths()
    {
        const QString longAgent = u"kubo/0.40.0-"_s + QString(120, u'x');
        const QJsonArray first { peer(u"short"_s, longAgent, true) };
        const QJsonArray second { peer(u"a-much-longer-peer-identifier-than-the-first-one"_s, u"k"_s) };
        const QJsonArray answer {
            QJsonObject { { u"Name"_s, u"wan"_s }, { u"Buckets"_s, QJsonArray { bucket(u"t"_s, first) } } },
            QJsonObject { { u"Name"_s, u"lan"_s }, { u"Buckets"_s, QJsonArray { bucket(u"t"_s, second) } } },
        };
        openWith(answer);

        // What each table would need on its own.
        QWidget scratch;
        QTableWidget* alone1 = buildDhtPeerTable(first, &scratch);
        QTableWidget* alone2 = buildDhtPeerTable(second, &scratch);
        QVERIFY(alone1->columnWidth(1) > 300);
        QVERIFY(alone2->columnWidth(1) < 300);
        QVERIFY(alone2->columnWidth(0) > alone1->columnWidth(0));

        const QList<QTableWidget*> tables = content()->findChildren<QTableWidget*>();
        QCOMPARE(tables.size(), 2);
        for (QTableWidget* table : tables) {
            QCOMPARE(table->columnWidth(0), alone2->columnWidth(0));
            QCOMPARE(table->columnWidth(1), 300);
            for (int column = 2; column < 4; ++column) {
                QCOMPARE(table->columnWidth(column),
                    qMax(alone1->columnWidth(column), alone2->columnWidth(column)));
                QCOMPARE(table->horizontalHeader()->sectionResizeMode(column), QHeaderView::Fixed);
            }
            QCOMPARE(table->horizontalHeader()->sectionResizeMode(4), QHeaderView::Stretch);
        }
        // Lined up on screen too: the tables start at the same x.
        QCOMPARE(tables.at(0)->mapTo(content(), QPoint()).x(), tables.at(1)->mapTo(content(), QPoint()).x());
    }

    void errorClearsContent()
    {
        openWith(NetworkFixtures::dhtObject(u"wan"_s, 3, 2));
        QCOMPARE(dhtBoxes().size(), 1);
        node->route(u"/stats/dht"_s, FakeKuboNode::text("garbage"));
        child<QPushButton>("refreshButton")->click();
        QTRY_COMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QVERIFY(statusLabel()->text().startsWith("Invalid DHT stats JSON: "_L1));
        QCOMPARE(dhtBoxes().size(), 0);
        QVERIFY(combo()->isEnabled());
        QVERIFY(child<QPushButton>("refreshButton")->isEnabled());
        QCOMPARE(status->last().first().toString(), u"DHT stats error: "_s + statusLabel()->text());

        // Empty again, so showing it again reloads.
        node->route(u"/stats/dht"_s, FakeKuboNode::json(R"({"Name":"wan"})"));
        dialog->hide();
        dialog->show();
        QTRY_COMPARE(dhtBoxes().size(), 1);
        QCOMPARE(node->requestCount(u"/stats/dht"_s), 3);
        dialog->hide();
        dialog->show();
        QTest::qWait(30);
        QCOMPARE(node->requestCount(u"/stats/dht"_s), 3); // shows boxes: no reload
    }

    void busyRoutingTable()
    {
        node->route(u"/stats/dht"_s, FakeKuboNode::json(NetworkFixtures::dhtLinesBody(2, 40, 20)));
        create();
        dialog->show();
        QTRY_COMPARE(statusLabel()->text(), u"Loaded from /api/v0/stats/dht"_s);
        QCOMPARE(dhtBoxes().size(), 2);
        QCOMPARE(content()->findChildren<QTableWidget*>().size(), 80);
        for (QGroupBox* box : dhtBoxes())
            QVERIFY(box->isVisible());
    }

    // Another window's request answers here too, maybe while a busy answer is still being built:
    // the newer answer or failure replaces it whole.
    void aNewerAnswerReplacesOneBeingBuilt_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("answer") << false;
        QTest::newRow("failure") << true;
    }
    void aNewerAnswerReplacesOneBeingBuilt()
    {
        QFETCH(bool, fails);
        node->route(u"/stats/dht"_s, FakeKuboNode::json(NetworkFixtures::dhtLinesBody(2, 120, 20)));
        create();
        dialog->show();
        QTRY_VERIFY(!dhtBoxes().isEmpty());
        node->route(u"/stats/dht"_s,
            fails ? FakeKuboNode::text("garbage")
                  : FakeKuboNode::json(QJsonDocument(NetworkFixtures::dhtObject(u"lan"_s, 3, 2)).toJson()));
        client->fetchDhtStats(u"lan"_s);
        QTRY_COMPARE(node->requestCount(u"/stats/dht"_s), 2);
        if (fails) {
            QTRY_COMPARE(statusLabel()->styleSheet(), errorTextStyle());
            // Whatever was still to be built of the first answer stays away.
            QTest::qWait(300);
            QVERIFY(statusLabel()->text().startsWith("Invalid DHT stats JSON: "_L1));
            QCOMPARE(dhtBoxes().size(), 0);
            return;
        }
        QTRY_VERIFY(dhtBoxes().size() == 1 && dhtBoxes().first()->isVisible());
        QCOMPARE(statusLabel()->text(), u"Loaded from /api/v0/stats/dht"_s);
        QCOMPARE(dhtBoxes().first()->title(), u"DHT: lan"_s);
        const QList<QTableWidget*> tables = content()->findChildren<QTableWidget*>();
        QCOMPARE(tables.size(), 3);
        for (QTableWidget* table : tables)
            QCOMPARE(table->horizontalHeader()->sectionResizeMode(4), QHeaderView::Stretch);
    }
};

QTEST_MAIN(TestDhtStatsDialog)
#include "tst_dhtstatsdialog.moc"
