#include <QtTest>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "gateway.h"
#include "mainwindowharness.h"
#include "modaldialogdriver.h"
#include "testsettings.h"

namespace {

const QString kCid = QStringLiteral("bafyrecursiveone");

// What a prompt showed, and how the test answered it.
struct PromptSeen {
    bool shown = false;
    QString title;
    QString label;
    QString text;
    QStringList items;
    bool editable = false;
};

// Answers the next text or item prompt: types `answer` and accepts, or cancels when `accept` is off.
void answerPrompt(
    PromptSeen* seen, const QString& answer, bool accept = true, std::function<void(QWidget*)> then = {})
{
    ModalDialogDriver::answerNext([=](QWidget* widget) {
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        if (!dialog) {
            qobject_cast<QDialog*>(widget)->reject();
            return;
        }
        seen->shown = true;
        seen->title = dialog->windowTitle();
        seen->label = dialog->labelText();
        seen->text = dialog->textValue();
        seen->items = dialog->comboBoxItems();
        seen->editable = dialog->isComboBoxEditable();
        if (then)
            then(dialog);
        if (accept) {
            dialog->setTextValue(answer);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
}

// What a result box showed; the test presses the button with the text `click` (OK when empty).
struct BoxSeen {
    bool shown = false;
    QString title;
    QString text;
    QStringList actions; // action-role buttons, in order
    bool hasOk = false;
    Qt::TextFormat format = Qt::AutoText;
};

void answerResultBox(BoxSeen* seen, const QString& click, QWidget* skip = nullptr)
{
    ModalDialogDriver::answerNext(
        [=](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box) {
                qobject_cast<QDialog*>(widget)->reject();
                return;
            }
            seen->shown = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->format = box->textFormat();
            QAbstractButton* toClick = box->button(QMessageBox::Ok);
            seen->hasOk = toClick != nullptr;
            const QList<QAbstractButton*> buttons = box->buttons();
            for (QAbstractButton* button : buttons) {
                if (box->buttonRole(button) != QMessageBox::ActionRole)
                    continue;
                seen->actions.append(button->text());
                if (button->text() == click)
                    toClick = button;
            }
            toClick->click();
        },
        skip);
}

QByteArray publishReply(const QString& name, const QString& value)
{
    return QStringLiteral("{\"Name\":\"%1\",\"Value\":\"%2\"}").arg(name, value).toUtf8();
}

} // namespace

class TestIpnsFlows : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    MainWindowHarness* ui = nullptr;
    OpenedUrlRecorder recorder;

    void selectPinnedRow()
    {
        ui->setRows({ pinRow(QStringLiteral("bafydirectone"), QStringLiteral("direct")),
            pinRow(QStringLiteral("  ") + kCid + QStringLiteral(" "), QStringLiteral("recursive")) });
        ui->selectRows({ ui->rowOf(QStringLiteral("  ") + kCid + QStringLiteral(" ")) });
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
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
        QGuiApplication::clipboard()->clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        node->route(QStringLiteral("/key/list"),
            FakeKuboNode::json(
                "{\"Keys\":[{\"Name\":\"self\",\"Id\":\"k51self\"},{\"Name\":\"blog\",\"Id\":"
                "\"k51blog\"},{\"Name\":\"blog\",\"Id\":\"k51again\"},{\"Name\":\"Self\",\"Id\":"
                "\"k51upper\"}]}"));
        ui = new MainWindowHarness(node);
        QVERIFY(ui->get());
    }

    void cleanup()
    {
        delete ui;
        ui = nullptr;
        delete node;
        node = nullptr;
    }

    void publishFromTheContextMenu()
    {
        node->route(QStringLiteral("/name/publish"),
            FakeKuboNode::json(publishReply(QStringLiteral("k51blog"), QStringLiteral("/ipfs/") + kCid)));
        selectPinnedRow();
        PromptSeen prompt;
        BoxSeen box;
        answerPrompt(&prompt, QStringLiteral("  blog  "), true, [&box](QWidget* dialog) {
            answerResultBox(&box, QStringLiteral("Open published value"), dialog);
        });

        ui->contextMenuAt(ui->rowOf(QStringLiteral("bafydirectone")), QStringLiteral("Publish to IPNS..."));
        QTRY_VERIFY(box.shown);
        QVERIFY(ui->get()
                    ->statusLog()
                    .filter(QStringLiteral("Fetching IPNS keys for publish (bafydirectone)\u2026"))
                    .size()
            == 1);

        // "self" once and first, then the node's other keys, each once, in the node's order.
        QCOMPARE(prompt.title, QStringLiteral("Publish to IPNS"));
        QCOMPARE(prompt.label, QStringLiteral("Publish CID\nbafydirectone\n\nSelect key:"));
        QCOMPARE(prompt.items,
            (QStringList { QStringLiteral("self"), QStringLiteral("blog"), QStringLiteral("Self") }));
        QCOMPARE(prompt.text, QStringLiteral("self"));
        QVERIFY(prompt.editable);

        const FakeKuboNode::Request publish = node->requests(QStringLiteral("/name/publish")).first();
        QCOMPARE(publish.queryValue(QStringLiteral("arg")), QStringLiteral("/ipfs/bafydirectone"));
        QCOMPARE(publish.queryValue(QStringLiteral("key")), QStringLiteral("blog"));
        QVERIFY(ui->get()->statusLog().last().endsWith(
            QStringLiteral("IPNS publish succeeded: k51blog -> /ipfs/") + kCid));
        QVERIFY(ui->get()
                    ->statusLog()
                    .at(ui->get()->statusLog().size() - 2)
                    .endsWith(QStringLiteral("Publishing bafydirectone to IPNS key 'blog'\u2026")));

        QCOMPARE(box.title, QStringLiteral("IPNS publish"));
        QCOMPARE(box.text, QStringLiteral("Key: blog\nName: k51blog\nValue: /ipfs/") + kCid);
        QCOMPARE(box.actions,
            (QStringList { QStringLiteral("Copy /ipns/..."), QStringLiteral("Open /ipns/..."),
                QStringLiteral("Open published value") }));
        QVERIFY(box.hasOk);
        QCOMPARE(box.format, Qt::PlainText);
        QCOMPARE(ui->notification(), QStringLiteral("IPNS publish succeeded: k51blog -> /ipfs/") + kCid);
        QCOMPARE(recorder.urls, QList<QUrl> { publicIpfsUrl(kCid) });
    }

    void publishTrimsTheSelectedCid()
    {
        node->route(QStringLiteral("/name/publish"), FakeKuboNode::held());
        selectPinnedRow();
        PromptSeen prompt;
        answerPrompt(&prompt, QStringLiteral("self"));
        ui->action(QStringLiteral("Publish to &IPNS..."))->trigger();
        QTRY_COMPARE(node->requestCount(QStringLiteral("/name/publish")), 1);
        QCOMPARE(prompt.label, QStringLiteral("Publish CID\n%1\n\nSelect key:").arg(kCid));
        const FakeKuboNode::Request publish = node->requests(QStringLiteral("/name/publish")).first();
        QCOMPARE(publish.queryValue(QStringLiteral("arg")), QStringLiteral("/ipfs/") + kCid);
        QCOMPARE(publish.queryValue(QStringLiteral("key")), QStringLiteral("self"));
    }

    void publishWhenTheKeysCannotBeListed()
    {
        node->route(
            QStringLiteral("/key/list"), FakeKuboNode::kuboError(QStringLiteral("keystore <locked>")));
        node->route(QStringLiteral("/name/publish"), FakeKuboNode::held());
        selectPinnedRow();
        QSignalSpy failures(ui->client(), &IpfsClient::ipnsKeysFailed);
        PromptSeen prompt;
        answerPrompt(&prompt, QStringLiteral(" my%41key "));
        ui->action(QStringLiteral("Publish to &IPNS..."))->trigger();
        QTRY_COMPARE(node->requestCount(QStringLiteral("/name/publish")), 1);

        QCOMPARE(failures.size(), 1);
        const QString message = failures.first().first().toString();
        QVERIFY(message.startsWith(QStringLiteral("Failed to list IPNS keys: ")));
        QCOMPARE(prompt.title, QStringLiteral("Publish to IPNS"));
        QCOMPARE(prompt.label,
            QStringLiteral("Could not load keys automatically.\n\n%1\n\nEnter key name:").arg(message));
        QCOMPARE(prompt.text, QStringLiteral("self"));
        QVERIFY(prompt.items.isEmpty());
        QCOMPARE(node->requests(QStringLiteral("/name/publish")).first().queryValue(QStringLiteral("key")),
            QStringLiteral("my%41key"));
    }

    void cancelledKeyChoice_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("answer");
        QTest::newRow("cancelled") << false << QString();
        QTest::newRow("blank key") << true << QStringLiteral("   ");
    }

    void cancelledKeyChoice()
    {
        QFETCH(bool, accept);
        QFETCH(QString, answer);
        selectPinnedRow();
        PromptSeen prompt;
        answerPrompt(&prompt, answer, accept);
        ui->action(QStringLiteral("Publish to &IPNS..."))->trigger();
        QTRY_VERIFY(prompt.shown);
        QTRY_COMPARE(ui->status(), QStringLiteral("IPNS publish cancelled"));

        // Nothing waits for a key any more: a late key list opens no prompt.
        UnexpectedModalGuard guard;
        QSignalSpy keys(ui->client(), &IpfsClient::ipnsKeysReceived);
        ui->client()->fetchIpnsKeys();
        QVERIFY(keys.wait());
        QCOMPARE(guard.titles, QStringList());
        QCOMPARE(node->requestCount(QStringLiteral("/name/publish")), 0);
    }

    void publishNeedsAPinnedSelection()
    {
        ui->setRows({ pinRow(kCid, QStringLiteral("recursive")) });
        QMetaObject::invokeMethod(ui->get(), "onPublishToIpnsClicked"); // nothing selected
        ui->setRows({ pinRow(QStringLiteral("   "), QStringLiteral("recursive")) });
        ui->selectRows({ 0 });
        QMetaObject::invokeMethod(ui->get(), "onPublishToIpnsClicked"); // a blank CID
        ui->setUnpinnedMode();
        ui->setRows({ pinRow(kCid, QString()) });
        ui->selectRows({ 0 });
        QVERIFY(!ui->action(QStringLiteral("Publish to &IPNS..."))->isEnabled());
        QMetaObject::invokeMethod(ui->get(), "onPublishToIpnsClicked");
        QSignalSpy keys(ui->client(), &IpfsClient::ipnsKeysReceived);
        ui->client()->fetchIpnsKeys(); // goes out after anything the window would have sent
        QVERIFY(keys.wait());
        QCOMPARE(node->requestCount(QStringLiteral("/key/list")), 1);
    }

    void publishFailureClearsThePendingCid()
    {
        node->route(QStringLiteral("/name/publish"), FakeKuboNode::kuboError(QStringLiteral("no route")));
        selectPinnedRow();
        PromptSeen prompt;
        answerPrompt(&prompt, QStringLiteral("self"));
        QSignalSpy failures(ui->client(), &IpfsClient::ipnsPublishFailed);
        ui->action(QStringLiteral("Publish to &IPNS..."))->trigger();
        QVERIFY(failures.wait());
        const QString message = failures.first().first().toString();
        QVERIFY(message.startsWith(QStringLiteral("Failed to publish to IPNS: ")));
        QCOMPARE(ui->status(), QStringLiteral("Error: ") + message);
        QCOMPARE(ui->notification(), QStringLiteral("\u26A0  ") + message);

        UnexpectedModalGuard guard;
        QSignalSpy keys(ui->client(), &IpfsClient::ipnsKeysReceived);
        ui->client()->fetchIpnsKeys();
        QVERIFY(keys.wait());
        QCOMPARE(guard.titles, QStringList());
    }

    void publishResultBox_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("status");

        const QStringList all { QStringLiteral("Copy /ipns/..."), QStringLiteral("Open /ipns/..."),
            QStringLiteral("Open published value") };
        const QString success = QStringLiteral("IPNS publish succeeded: %1 -> %2");
        QTest::newRow("copy name") << QStringLiteral("k51abc") << QStringLiteral("/ipfs/bafyvalue")
                                   << QStringLiteral("Copy /ipns/...")
                                   << QStringLiteral("Key: blog\nName: k51abc\nValue: /ipfs/bafyvalue") << all
                                   << QStringLiteral("k51abc") << QList<QUrl>()
                                   << QStringLiteral("Copied IPNS name: k51abc");
        QTest::newRow("open name") << QStringLiteral("/ipns/k51abc") << QStringLiteral("/ipfs/bafyvalue")
                                   << QStringLiteral("Open /ipns/...")
                                   << QStringLiteral("Key: blog\nName: /ipns/k51abc\nValue: /ipfs/bafyvalue")
                                   << all << QString()
                                   << QList<QUrl> { publicIpnsUrl(QStringLiteral("k51abc")) }
                                   << success.arg(
                                          QStringLiteral("/ipns/k51abc"), QStringLiteral("/ipfs/bafyvalue"));
        QTest::newRow("value under /ipns/")
            << QStringLiteral("k51abc") << QStringLiteral("/ipns/k51other") << QString()
            << QStringLiteral("Key: blog\nName: k51abc\nValue: /ipns/k51other") << all.mid(0, 2) << QString()
            << QList<QUrl>() << success.arg(QStringLiteral("k51abc"), QStringLiteral("/ipns/k51other"));
        QTest::newRow("empty answer")
            << QString() << QString() << QString()
            << QStringLiteral("Key: blog\nName: (unknown)\nValue: (unknown)") << QStringList() << QString()
            << QList<QUrl>() << success.arg(QStringLiteral("(unknown)"), QStringLiteral("(unknown)"));
    }

    void publishResultBox()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, click);
        node->route(QStringLiteral("/name/publish"), FakeKuboNode::json(publishReply(name, value)));
        BoxSeen box;
        answerResultBox(&box, click);
        ui->client()->publishIpns(QStringLiteral("bafyvalue"), QStringLiteral("blog"));
        QTRY_VERIFY(box.shown);
        QCOMPARE(box.title, QStringLiteral("IPNS publish"));
        QTEST(box.text, "text");
        QTEST(box.actions, "actions");
        QVERIFY(box.hasOk);
        QTEST(QGuiApplication::clipboard()->text(), "clipboard");
        QTEST(recorder.urls, "urls");
        QTEST(ui->status(), "status");
    }

    void openViaIpns_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path"); // empty: nothing opens
        QTest::addColumn<QString>("status");
        const QString gatewayHost = QUrl(QString(kPublicGatewayBaseUrl)).host();
        QTest::newRow("prefilled peer id")
            << true << QStringLiteral("12D3KooWtest") << gatewayHost << QStringLiteral("/ipns/12D3KooWtest")
            << QStringLiteral("Opening /ipns/12D3KooWtest in browser\u2026");
        QTest::newRow("prefix and blanks")
            << true << QStringLiteral("  /ipns/ k51hash  ") << gatewayHost << QStringLiteral("/ipns/k51hash")
            << QStringLiteral("Opening /ipns/k51hash in browser\u2026");
        QTest::newRow("DNSLink with a sub-path")
            << true << QStringLiteral("/ipns/docs.example.org/guide") << gatewayHost
            << QStringLiteral("/ipns/docs.example.org/guide")
            << QStringLiteral("Opening /ipns/docs.example.org/guide in browser\u2026");
        QTest::newRow("hostile name stays in the path")
            << true << QStringLiteral("//evil.example:80/a?b#c@d") << gatewayHost
            << QStringLiteral("/ipns/evil.example%3A80/a%3Fb%23c%40d")
            << QStringLiteral("Opening /ipns///evil.example:80/a?b#c@d in browser\u2026");
        QTest::newRow("only the prefix")
            << true << QStringLiteral("/ipns/") << QString() << QString() << QString();
        QTest::newRow("blank") << true << QStringLiteral("   ") << QString() << QString() << QString();
        QTest::newRow("cancelled") << false << QStringLiteral("k51hash") << QString() << QString()
                                   << QString();
    }

    void openViaIpns()
    {
        QFETCH(bool, accept);
        QFETCH(QString, answer);
        QFETCH(QString, host);
        QFETCH(QString, path);
        QFETCH(QString, status);
        // The node's identity is in: the prompt offers its peer id.
        QTRY_VERIFY(ui->get()
                        ->findChild<QLabel*>(QStringLiteral("peerIdLabel"))
                        ->text()
                        .contains(QStringLiteral("12D3KooWtest")));
        const QString statusBefore = ui->status();
        PromptSeen prompt;
        answerPrompt(&prompt, answer, accept);
        ui->action(QStringLiteral("Open via I&PNS..."))->trigger();
        QVERIFY(prompt.shown);
        QCOMPARE(prompt.title, QStringLiteral("Open via IPNS"));
        QCOMPARE(prompt.label, QStringLiteral("IPNS name (k51..., peer id, or /ipns/...):"));
        QCOMPARE(prompt.text, QStringLiteral("12D3KooWtest"));
        if (path.isEmpty()) {
            QCOMPARE(recorder.urls.size(), 0);
            QCOMPARE(ui->status(), statusBefore);
            return;
        }
        QCOMPARE(recorder.urls.size(), 1);
        QCOMPARE(recorder.urls.first().scheme(), QStringLiteral("https"));
        QCOMPARE(recorder.urls.first().host(), host);
        QCOMPARE(recorder.urls.first().path(QUrl::FullyEncoded), path);
        QVERIFY(!recorder.urls.first().hasQuery() && !recorder.urls.first().hasFragment());
        QCOMPARE(ui->status(), status);
    }

    void openViaIpnsWithoutANodeOffersNoName()
    {
        QTRY_VERIFY(ui->get()
                        ->findChild<QLabel*>(QStringLiteral("peerIdLabel"))
                        ->text()
                        .contains(QStringLiteral("12D3KooWtest")));
        // The node goes away: its peer id is no longer known.
        QMetaObject::invokeMethod(ui->get(), "onConnectionStatusChanged", Q_ARG(bool, false));
        PromptSeen prompt;
        answerPrompt(&prompt, QString(), false);
        ui->action(QStringLiteral("Open via I&PNS..."))->trigger();
        QVERIFY(prompt.shown);
        QCOMPARE(prompt.text, QString());
    }

    void resolveThroughThePrompt()
    {
        node->route(QStringLiteral("/name/resolve"), FakeKuboNode::json("{\"Path\":\"/ipfs/bafyresolved\"}"));
        PromptSeen prompt;
        BoxSeen box;
        answerPrompt(&prompt, QStringLiteral("  k51hash  "), true,
            [&box](QWidget* dialog) { answerResultBox(&box, QString(), dialog); });
        ui->action(QStringLiteral("&Resolve IPNS..."))->trigger();
        QCOMPARE(prompt.title, QStringLiteral("Resolve IPNS"));
        QCOMPARE(prompt.label, QStringLiteral("IPNS name (k51..., peer id, or /ipns/...):"));
        QCOMPARE(prompt.text, QString());
        QVERIFY(ui->get()->statusLog().last().endsWith(QStringLiteral("Resolving k51hash\u2026")));
        QTRY_VERIFY(box.shown);
        QCOMPARE(node->requests(QStringLiteral("/name/resolve")).first().queryValue(QStringLiteral("arg")),
            QStringLiteral("/ipns/k51hash"));
        QCOMPARE(box.title, QStringLiteral("IPNS resolve"));
        QCOMPARE(box.text, QStringLiteral("/ipns/k51hash -> /ipfs/bafyresolved"));
        QCOMPARE(ui->status(), QStringLiteral("IPNS resolved: /ipns/k51hash -> /ipfs/bafyresolved"));
        QCOMPARE(ui->notification(), ui->status());
        QVERIFY(recorder.urls.isEmpty());
    }

    void resolvePromptCancelledOrBlank_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("answer");
        QTest::newRow("cancelled") << false << QStringLiteral("k51hash");
        QTest::newRow("blank") << true << QStringLiteral("  ");
    }

    void resolvePromptCancelledOrBlank()
    {
        QFETCH(bool, accept);
        QFETCH(QString, answer);
        QSignalSpy requests(ui->client(), &IpfsClient::rpcRequestIssued);
        QSignalSpy failures(ui->client(), &IpfsClient::ipnsResolveFailed);
        PromptSeen prompt;
        answerPrompt(&prompt, answer, accept);
        ui->action(QStringLiteral("&Resolve IPNS..."))->trigger();
        QVERIFY(prompt.shown);
        QCOMPARE(requests.size(), 0);
        QCOMPARE(failures.size(), 0);
    }

    void resolveResultBox_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("status");

        const QStringList all { QStringLiteral("Copy IPNS name"), QStringLiteral("Copy resolved path"),
            QStringLiteral("Open resolved target"), QStringLiteral("Open IPNS name") };
        const QString summary = QStringLiteral("/ipns/k51hash -> /ipfs/bafytarget/index.html");
        const QString path = QStringLiteral("/ipfs/bafytarget/index.html");
        QTest::newRow("copy name") << path << QStringLiteral("Copy IPNS name") << summary << all
                                   << QStringLiteral("/ipns/k51hash") << QList<QUrl>()
                                   << QStringLiteral("Copied IPNS name: /ipns/k51hash");
        QTest::newRow("copy path") << path << QStringLiteral("Copy resolved path") << summary << all << path
                                   << QList<QUrl>() << QStringLiteral("Copied resolved path: ") + path;
        QTest::newRow("open target") << path << QStringLiteral("Open resolved target") << summary << all
                                     << QString()
                                     << QList<QUrl> { publicIpfsUrl(QStringLiteral("bafytarget/index.html")) }
                                     << QStringLiteral("IPNS resolved: ") + summary;
        QTest::newRow("open name") << path << QStringLiteral("Open IPNS name") << summary << all << QString()
                                   << QList<QUrl> { publicIpnsUrl(QStringLiteral("k51hash")) }
                                   << QStringLiteral("IPNS resolved: ") + summary;
        QTest::newRow("empty path") << QString() << QString() << QStringLiteral("/ipns/k51hash -> (empty)")
                                    << QStringList { QStringLiteral("Copy IPNS name"),
                                           QStringLiteral("Open IPNS name") }
                                    << QString() << QList<QUrl>()
                                    << QStringLiteral("IPNS resolved: /ipns/k51hash -> (empty)");
        QTest::newRow("path under /ipns/")
            << QStringLiteral("/ipns/k51next") << QString()
            << QStringLiteral("/ipns/k51hash -> /ipns/k51next")
            << QStringList { QStringLiteral("Copy IPNS name"), QStringLiteral("Copy resolved path"),
                   QStringLiteral("Open IPNS name") }
            << QString() << QList<QUrl>() << QStringLiteral("IPNS resolved: /ipns/k51hash -> /ipns/k51next");
    }

    void resolveResultBox()
    {
        QFETCH(QString, path);
        QFETCH(QString, click);
        node->route(QStringLiteral("/name/resolve"),
            FakeKuboNode::json(QStringLiteral("{\"Path\":\"%1\"}").arg(path).toUtf8()));
        BoxSeen box;
        answerResultBox(&box, click);
        ui->client()->resolveIpns(QStringLiteral("k51hash"));
        QTRY_VERIFY(box.shown);
        QTEST(box.text, "text");
        QTEST(box.actions, "actions");
        QVERIFY(box.hasOk);
        QTEST(QGuiApplication::clipboard()->text(), "clipboard");
        QTEST(recorder.urls, "urls");
        QTEST(ui->status(), "status");
    }

    void typedNamesReachTheNodeAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("percent") << QStringLiteral("k51%41hash");
        QTest::newRow("query delimiters") << QStringLiteral("k51&key=other#x+y");
        QTest::newRow("non-ASCII DNSLink") << QStringLiteral("b\u00fccher.example");
    }

    // What the user types is what the node resolves: nothing is decoded or split on the way.
    void typedNamesReachTheNodeAsTyped()
    {
        QFETCH(QString, typed);
        node->route(QStringLiteral("/name/resolve"), FakeKuboNode::held());
        PromptSeen prompt;
        answerPrompt(&prompt, typed);
        ui->action(QStringLiteral("&Resolve IPNS..."))->trigger();
        QTRY_COMPARE(node->requestCount(QStringLiteral("/name/resolve")), 1);
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/name/resolve")).first();
        QCOMPARE(request.queryKeys(), QStringList { QStringLiteral("arg") });
        QCOMPARE(request.queryValue(QStringLiteral("arg")), QStringLiteral("/ipns/") + typed);
    }

    void resolveFailure()
    {
        node->route(QStringLiteral("/name/resolve"), FakeKuboNode::text("could not resolve name", 500));
        QSignalSpy failures(ui->client(), &IpfsClient::ipnsResolveFailed);
        ui->client()->resolveIpns(QStringLiteral("k51hash"));
        QVERIFY(failures.wait());
        const QString message = failures.first().first().toString();
        QVERIFY(message.startsWith(QStringLiteral("Failed to resolve IPNS name: ")));
        QCOMPARE(ui->status(), QStringLiteral("Error: ") + message);
        QCOMPARE(ui->notification(), QStringLiteral("\u26A0  ") + message);
    }

    void validationFailuresReachTheStatus()
    {
        QSignalSpy requests(ui->client(), &IpfsClient::rpcRequestIssued);
        ui->client()->resolveIpns(QStringLiteral("  "));
        QCOMPARE(ui->status(), QStringLiteral("Error: IPNS resolve failed: name is required."));
        ui->client()->publishIpns(QString(), QStringLiteral("self"));
        QCOMPARE(ui->status(), QStringLiteral("Error: IPNS publish failed: content path/CID is required."));
        QCOMPARE(
            ui->notification(), QStringLiteral("\u26A0  IPNS publish failed: content path/CID is required."));
        QCOMPARE(requests.size(), 0);
    }
};

QTEST_MAIN(TestIpnsFlows)
#include "tst_ipnsflows.moc"
