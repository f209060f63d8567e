#include <QtTest>

#include <QTextDocument>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>

#include "appsettings.h"
#include "fakekubonode.h"
#include "gateway.h"
#include "indirectpinsdialog.h"
#include "ipfsclient.h"

// Catches what the dialogs would open in the browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class TestIndirectPinsDialog : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    UrlRecorder recorder;

    static QByteArray refsLines(const QStringList& cids)
    {
        QByteArray body;
        for (const QString& cid : cids)
            body += "{\"Ref\":\"" + cid.toUtf8() + "\",\"Err\":\"\"}\n";
        return body;
    }
    IndirectPinsDialog* open(const QString& root)
    {
        auto* dialog = new IndirectPinsDialog(root, client);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        return dialog;
    }
    static QString countText(IndirectPinsDialog* d)
    {
        return d->findChild<QLabel*>(QStringLiteral("countLabel"))->text();
    }
    static QTableView* table(IndirectPinsDialog* d) { return d->findChild<QTableView*>(); }
    static QStringList rows(IndirectPinsDialog* d)
    {
        QStringList result;
        for (int row = 0; row < table(d)->model()->rowCount(); ++row)
            result << d->cidAtRow(row);
        return result;
    }
    // The context menu's items for a row, or an empty list when no menu opens.
    QStringList contextMenuAt(IndirectPinsDialog* d, int row)
    {
        QStringList items;
        QTimer::singleShot(0, this, [&items] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions())
                    items << action->text();
                menu->close();
            }
        });
        const QPoint pos = table(d)->visualRect(table(d)->model()->index(row, 0)).center();
        emit table(d)->customContextMenuRequested(pos);
        return items;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void init()
    {
        recorder.urls.clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* w : windows)
            delete qobject_cast<IndirectPinsDialog*>(w);
        delete client;
        delete node;
    }

    void titleShortensLongCids_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("shortened");
        QTest::newRow("59 characters") << 59 << true;
        QTest::newRow("50 characters") << 50 << false;
    }

    void titleShortensLongCids()
    {
        QFETCH(int, length);
        QFETCH(bool, shortened);
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        QString root;
        for (int i = 0; i < length; ++i)
            root += QLatin1Char(char('a' + i % 26));
        IndirectPinsDialog* dialog = open(root);
        const QString shown = shortened ? root.left(47) + QStringLiteral("…") : root;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Indirect pins under ") + shown);
        QCOMPARE(rows(dialog), QStringList { QStringLiteral("Loading…") });
        QCOMPARE(countText(dialog), QStringLiteral("Loading…"));
    }

    void headingShowsTheRootAsText()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        IndirectPinsDialog* dialog = open(QStringLiteral("<img src=x>&amp;"));
        auto* heading = dialog->findChild<QLabel*>(QStringLiteral("headingLabel"));
        QVERIFY(heading);
        QTextDocument shown;
        shown.setHtml(heading->text());
        QCOMPARE(
            shown.toPlainText(), QStringLiteral("CIDs referenced under recursive pin: <img src=x>&amp;"));
    }

    void listsTheRootsRefs()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::json(refsLines({ QStringLiteral("bafyone") })));
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QTRY_COMPARE(rows(dialog), QStringList { QStringLiteral("bafyone") });
        QCOMPARE(countText(dialog), QStringLiteral("1 indirect pin"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Indirect pins under bafyroot (1 indirect pin)"));
        const auto request = node->requests(QStringLiteral("/refs")).first();
        QCOMPARE(request.queryValue(QStringLiteral("arg")), QStringLiteral("bafyroot"));
        QCOMPARE(request.queryValue(QStringLiteral("recursive")), QStringLiteral("true"));
    }

    void duplicatesKeptAndCounted()
    {
        node->route(QStringLiteral("/refs"),
            FakeKuboNode::json(
                refsLines({ QStringLiteral("b1"), QStringLiteral("b2"), QStringLiteral("b1") })));
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QTRY_COMPARE(countText(dialog), QStringLiteral("3 indirect pins"));
        QCOMPARE(
            rows(dialog), (QStringList { QStringLiteral("b1"), QStringLiteral("b2"), QStringLiteral("b1") }));
    }

    void failureShowsTheErrorAndStays()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::kuboError(QStringLiteral("merkledag: not found")));
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QTRY_VERIFY(rows(dialog).first().startsWith(QStringLiteral("Error: ")));
        QTest::qWait(20); // nothing that follows the failure replaces it
        QCOMPARE(rows(dialog).size(), 1);
        QVERIFY2(rows(dialog).first().contains(QStringLiteral("merkledag: not found")),
            qPrintable(rows(dialog).first()));
        QCOMPARE(countText(dialog), QStringLiteral("Failed to load the indirect pins"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Indirect pins under bafyroot"));
        QCOMPARE(contextMenuAt(dialog, 0), QStringList());
    }

    void eachWindowShowsOnlyItsOwnOutcome()
    {
        node->route(QStringLiteral("/refs"), [](const FakeKuboNode::Request& r) {
            const QString root = r.queryValue(QStringLiteral("arg"));
            if (root == QLatin1String("broken"))
                return FakeKuboNode::kuboError(QStringLiteral("merkledag: not found"));
            return FakeKuboNode::json(refsLines({ QStringLiteral("child-of-") + root }));
        });
        IndirectPinsDialog* first = open(QStringLiteral("r1"));
        IndirectPinsDialog* second = open(QStringLiteral("r2"));
        QTRY_COMPARE(rows(first), QStringList { QStringLiteral("child-of-r1") });
        QTRY_COMPARE(rows(second), QStringList { QStringLiteral("child-of-r2") });

        // Another operation's failure (the node has no "/id"), and another root's failed refs.
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        client->fetchNodeInfo();
        client->fetchRefs(QStringLiteral("broken"));
        QTRY_COMPARE(errors.size(), 2);
        QCOMPARE(rows(first), QStringList { QStringLiteral("child-of-r1") });
        QCOMPARE(rows(second), QStringList { QStringLiteral("child-of-r2") });
        QCOMPARE(countText(first), QStringLiteral("1 indirect pin"));
    }

    void asksAgainWhenARefreshCancelsItsRequest()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QTRY_COMPARE(node->heldCount(), 1);

        node->route(QStringLiteral("/refs"), FakeKuboNode::json(refsLines({ QStringLiteral("bafyone") })));
        client->cancelActiveLoading(); // as the main window's next refresh does
        QTRY_COMPARE(rows(dialog), QStringList { QStringLiteral("bafyone") });
        QCOMPARE(countText(dialog), QStringLiteral("1 indirect pin"));
        QCOMPARE(node->requestCount(QStringLiteral("/refs")), 2);

        // Once answered, a later cancel asks nothing more.
        client->cancelActiveLoading();
        QTest::qWait(20);
        QCOMPARE(node->requestCount(QStringLiteral("/refs")), 2);
    }

    void listIsReadOnlyUnderACidHeader()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::json(refsLines({ QStringLiteral("bafyone") })));
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QTRY_COMPARE(rows(dialog), QStringList { QStringLiteral("bafyone") });
        QAbstractItemModel* model = table(dialog)->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("CID"));
        const QModelIndex cell = model->index(0, 0);
        QVERIFY(!(model->flags(cell) & Qt::ItemIsEditable));

        // Typing over a selected cell opens no editor.
        table(dialog)->setCurrentIndex(cell);
        table(dialog)->setFocus();
        QTest::keyClick(table(dialog), Qt::Key_F2);
        QTest::keyClicks(table(dialog), QStringLiteral("x"));
        QCOMPARE(table(dialog)->findChildren<QLineEdit*>().size(), 0);
        QCOMPARE(rows(dialog), QStringList { QStringLiteral("bafyone") });
    }

    void contextMenuCopiesAndOpens()
    {
        node->route(QStringLiteral("/refs"),
            FakeKuboNode::json(refsLines({ QStringLiteral("bafyA"), QStringLiteral("bafyB") })));
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QTRY_COMPARE(rows(dialog).size(), 2);
        QCOMPARE(contextMenuAt(dialog, 0),
            (QStringList { QStringLiteral("Copy CID"), QStringLiteral("Open from gateway"),
                QStringLiteral("Open from local") }));

        table(dialog)->selectAll();
        QMetaObject::invokeMethod(dialog, "onCopyCid");
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("bafyA\nbafyB"));

        table(dialog)->clearSelection();
        table(dialog)->selectRow(1);
        QMetaObject::invokeMethod(dialog, "onOpenInGateway");
        QMetaObject::invokeMethod(dialog, "onOpenFromLocal");
        QCOMPARE(recorder.urls,
            (QList<QUrl> { QUrl(kPublicGatewayBaseUrl + QLatin1String("/ipfs/bafyB")),
                QUrl(QStringLiteral("http://127.0.0.1:8080/ipfs/bafyB")) }));
    }

    void messageRowsAreNeverCopiedOrOpened()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        IndirectPinsDialog* dialog = open(QStringLiteral("bafyroot"));
        QCOMPARE(contextMenuAt(dialog, 0), QStringList());
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        table(dialog)->selectAll();
        QMetaObject::invokeMethod(dialog, "onCopyCid");
        QMetaObject::invokeMethod(dialog, "onOpenInGateway");
        QMetaObject::invokeMethod(dialog, "onOpenFromLocal");
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QVERIFY(recorder.urls.isEmpty());
    }
};

QTEST_MAIN(TestIndirectPinsDialog)
#include "tst_indirectpinsdialog.moc"
