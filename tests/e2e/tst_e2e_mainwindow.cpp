#include <QtTest>

#include "appsettings.h"
#include "e2enode.h"
#include "mainwindow.h"
#include "pinmodel.h"
#include "testsettings.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QJsonObject>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <memory>

// The main window as a user meets it, against an independent node.
class TestE2eMainWindow : public QObject
{
    Q_OBJECT

    E2eNode node;
    QString folderCid;
    QString directCid;
    QString unpinnedCid;

    QSet<QString> nodePins(const QString& type)
    {
        const auto answer = node.post(QStringLiteral("/pin/ls"),
            { { QStringLiteral("type"), type }, { QStringLiteral("cid-base"), QStringLiteral("base32") } });
        QSet<QString> cids;
        const QJsonObject keys = answer.json().object().value(QStringLiteral("Keys")).toObject();
        for (auto it = keys.begin(); it != keys.end(); ++it)
            cids.insert(it.key());
        return cids;
    }

    std::unique_ptr<MainWindow> openWindow()
    {
        QSettings settings = appSettings();
        settings.clear();
        settings.setValue(QStringLiteral("host"), node.host());
        settings.setValue(QStringLiteral("port"), int(node.port()));
        settings.sync();
        auto window = std::make_unique<MainWindow>();
        window->show();
        return window;
    }

    static PinModel* modelOf(MainWindow& window) { return window.findChild<PinModel*>(); }

    static QSet<QString> rowsOf(MainWindow& window)
    {
        QSet<QString> cids;
        PinModel* model = modelOf(window);
        for (int row = 0; row < model->rowCount(); ++row)
            cids.insert(model->pinAt(row)->cid);
        return cids;
    }

    static const PinEntry* rowFor(MainWindow& window, const QString& cid)
    {
        PinModel* model = modelOf(window);
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->pinAt(row)->cid == cid)
                return model->pinAt(row);
        }
        return nullptr;
    }

    static QComboBox* contentCombo(MainWindow& window)
    {
        for (QComboBox* combo : window.findChildren<QComboBox*>()) {
            if (combo->findData(QStringLiteral("unpinned")) >= 0)
                return combo;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        E2E_START_NODE(node);
        const QList<QPair<QString, QString>> pinned { { QStringLiteral("cid-version"), QStringLiteral("1") },
            { QStringLiteral("wrap-with-directory"), QStringLiteral("true") } };
        const auto folder = node.add(
            { { QStringLiteral("site/index.html"), "<p>hi</p>\n" }, { QStringLiteral("site/img/a.txt"), "a\n" } }, pinned);
        QVERIFY(!folder.isEmpty());
        folderCid = E2eNode::toBase32(folder.last().value(QStringLiteral("Hash")).toString());
        const QList<QPair<QString, QString>> loose { { QStringLiteral("cid-version"), QStringLiteral("1") },
            { QStringLiteral("pin"), QStringLiteral("false") } };
        directCid = E2eNode::toBase32(
            node.add({ { QStringLiteral("direct.txt"), "direct\n" } }, loose).last().value(QStringLiteral("Hash")).toString());
        node.post(QStringLiteral("/pin/add"),
            { { QStringLiteral("arg"), directCid }, { QStringLiteral("recursive"), QStringLiteral("false") } });
        unpinnedCid = E2eNode::toBase32(
            node.add({ { QStringLiteral("loose.txt"), "loose\n" } }, loose).last().value(QStringLiteral("Hash")).toString());
    }

    void firstRefreshShowsPinsIdentityAndMetadata()
    {
        const QSet<QString> expected = nodePins(QStringLiteral("recursive")) + nodePins(QStringLiteral("direct"));
        const QJsonObject id = node.post(QStringLiteral("/id")).json().object();
        const int folderRefs = int(node.post(QStringLiteral("/refs"),
            { { QStringLiteral("arg"), folderCid }, { QStringLiteral("recursive"), QStringLiteral("true") } })
                                       .body.count("\"Ref\""));

        auto window = openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(rowsOf(*window), expected, 30000);

        auto* peer = window->findChild<QLabel*>(QStringLiteral("peerIdLabel"));
        QVERIFY(peer);
        QTRY_VERIFY_WITH_TIMEOUT(peer->text().contains(id.value(QStringLiteral("ID")).toString()), 30000);
        QVERIFY(peer->text().contains(id.value(QStringLiteral("AgentVersion")).toString()));

        QTRY_VERIFY_WITH_TIMEOUT(rowFor(*window, folderCid) && rowFor(*window, folderCid)->refsCount == folderRefs, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rowFor(*window, folderCid)->kind == QLatin1String("Directory"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rowFor(*window, directCid)->kind == QLatin1String("File"), 30000);
        QCOMPARE(rowFor(*window, directCid)->type, QStringLiteral("direct"));
    }

    void unpinnedContentModeListsLooseBlocks()
    {
        auto window = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(*window).contains(folderCid), 30000);
        QComboBox* combo = contentCombo(*window);
        QVERIFY(combo);
        combo->setCurrentIndex(combo->findData(QStringLiteral("unpinned")));
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(*window).contains(unpinnedCid), 30000);
        QVERIFY(!rowsOf(*window).contains(folderCid));
        QVERIFY(!rowsOf(*window).contains(directCid));
    }

    void unpinRemovesTheRowAfterTheRefresh()
    {
        auto window = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(*window).contains(directCid), 30000);
        auto* view = window->findChild<QTableView*>();
        QVERIFY(view);
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(view->model());
        QVERIFY(proxy);
        QModelIndex target;
        for (int row = 0; row < proxy->rowCount(); ++row) {
            const QModelIndex index = proxy->index(row, PinModel::CidColumn);
            if (index.data().toString() == directCid)
                target = index;
        }
        QVERIFY(target.isValid());
        view->selectionModel()->select(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onUnpinSelected"));

        QTRY_VERIFY_WITH_TIMEOUT(!nodePins(QStringLiteral("direct")).contains(directCid), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!rowsOf(*window).contains(directCid), 30000);
        QVERIFY(rowsOf(*window).contains(folderCid));
    }
};

QTEST_MAIN(TestE2eMainWindow)
#include "tst_e2e_mainwindow.moc"
