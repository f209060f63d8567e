#include <QtTest>

#include "cidtext.h"
#include "configdialog.h"
#include "gcdialog.h"
#include "ipfsclient.h"
#include "kubonode.h"
#include "modaldialogdriver.h"
#include "testhome.h"

#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

using namespace Qt::StringLiterals;

// The node's config, repository statistics and garbage collection through the client and the
// administration windows, against a real Kubo.
class TestKuboAdmin : public QObject
{
    Q_OBJECT

    KuboNode node;
    std::unique_ptr<IpfsClient> client;

    QJsonObject nodeConfig() { return node.post(u"/config/show"_s).json(); }

    // The config the node keeps when it is sent these bytes itself: a replace fills in defaults
    // of its own (Kubo adds Plugins.Plugins.telemetry.Disabled), so that is what a replace by the
    // program must leave too.
    QJsonObject nodeConfigAfterReplacing(const QByteArray& bytes)
    {
        if (node.postFiles(u"/config/replace"_s, { { u"config.json"_s, bytes } }, {}).status != 200)
            return {};
        return nodeConfig();
    }

    // The keys whose values differ, with both values: "" when the objects are equal.
    static QString differences(const QJsonObject& actual, const QJsonObject& expected, const QString& path = QString())
    {
        QStringList found;
        QStringList keys = actual.keys() + expected.keys();
        keys.removeDuplicates();
        for (const QString& key : std::as_const(keys)) {
            const QJsonValue a = actual.value(key);
            const QJsonValue e = expected.value(key);
            if (a == e)
                continue;
            if (a.isObject() && e.isObject())
                found.append(differences(a.toObject(), e.toObject(), path + key + u'.'));
            else
                found.append(u"%1%2: %3 instead of %4"_s.arg(path, key,
                    QString::fromUtf8(QJsonDocument(QJsonArray { a }).toJson(QJsonDocument::Compact)),
                    QString::fromUtf8(QJsonDocument(QJsonArray { e }).toJson(QJsonDocument::Compact))));
        }
        return found.join(u"; "_s);
    }

    QSet<QString> localBlocks()
    {
        QSet<QString> blocks;
        for (const QJsonObject& line : node.post(u"/refs/local"_s).lines())
            blocks.insert(line.value(u"Ref"_s).toString());
        return blocks;
    }

    // Answers the replace editor (with its text changed by edit) and the question that follows.
    static void answerReplace(std::function<QString(QString)> edit)
    {
        ModalDialogDriver::answerNext([edit](QWidget* modal) {
            auto* editor = modal->findChild<QPlainTextEdit*>(u"configEditor"_s);
            if (!editor)
                return;
            // Qt's toPlainText() turns a no-break space into a blank: an edit that changes nothing
            // leaves the editor as a user who typed nothing would.
            const QString shown = editor->toPlainText();
            const QString edited = edit(shown);
            if (edited != shown)
                editor->setPlainText(edited);
            ModalDialogDriver::answerNext(
                [](QWidget* question) {
                    if (auto* box = qobject_cast<QMessageBox*>(question))
                        box->button(QMessageBox::Yes)->click();
                },
                modal);
            modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
    }

private slots:
    void initTestCase()
    {
        useFreshTestHome();
        KUBO_START_NODE(node);
    }

    void cleanupTestCase() { node.stop(); }

    void init()
    {
        client = std::make_unique<IpfsClient>();
        client->setEndpoint(node.host(), node.port());
    }

    void cleanup() { client.reset(); }

    void configGetSetAndReplaceRoundTrip()
    {
        const QJsonObject before = nodeConfig();
        QSignalSpy received(client.get(), &IpfsClient::configReceived);
        client->fetchConfig();
        QVERIFY(received.wait(30000));
        const QJsonObject config = received.first().first().toJsonObject();
        QCOMPARE(config, before);
        const QByteArray bytes = QJsonDocument(config).toJson(QJsonDocument::Indented);
        const QJsonObject replacedConfig = nodeConfigAfterReplacing(bytes);
        QVERIFY(!replacedConfig.isEmpty());

        const QString key = u"Datastore.StorageGCWatermark"_s;
        const int watermark = before[u"Datastore"_s][u"StorageGCWatermark"_s].toInt() == 77 ? 78 : 77;
        QSignalSpy set(client.get(), &IpfsClient::configKeySet);
        client->setConfigKey(key, QString::number(watermark), false, true);
        QVERIFY(set.wait(30000));
        QCOMPARE(nodeConfig()[u"Datastore"_s][u"StorageGCWatermark"_s].toInt(), watermark);
        QSignalSpy readBack(client.get(), &IpfsClient::configKeyReceived);
        client->fetchConfigKey(key, false);
        QVERIFY(readBack.wait(30000));
        QCOMPARE(readBack.first().at(1).value<QJsonValue>().toInt(), watermark);

        // Putting back what was read leaves the node's config as it was.
        QSignalSpy replaced(client.get(), &IpfsClient::configReplaceSucceeded);
        QSignalSpy failed(client.get(), &IpfsClient::configReplaceFailed);
        client->replaceConfig(bytes);
        QTRY_VERIFY_WITH_TIMEOUT(replaced.count() + failed.count() == 1, 30000);
        QVERIFY2(replaced.count() == 1, qPrintable(failed.value(0).value(0).toString()));
        QCOMPARE(differences(nodeConfig(), replacedConfig), QString());
    }

    // Opens the config window and presses "Replace Config…", answering the editor with its text
    // passed through edit; returns once the node has answered the replace.
    void replaceThroughTheWindow(std::function<QString(QString)> edit)
    {
        ConfigDialog dialog(client.get(), nullptr);
        dialog.show();
        auto* status = dialog.findChild<QLabel*>(u"statusLabel"_s);
        auto* replace = dialog.findChild<QPushButton*>(u"replaceButton"_s);
        QTRY_VERIFY_WITH_TIMEOUT(replace->isEnabled() && status->text().startsWith(u"Loaded"_s), 30000);
        QSignalSpy replaced(client.get(), &IpfsClient::configReplaceSucceeded);
        answerReplace(edit);
        replace->click();
        QTRY_COMPARE_WITH_TIMEOUT(replaced.count(), 1, 30000);
    }

    void setConfigText(const QString& key, const QString& value)
    {
        QSignalSpy set(client.get(), &IpfsClient::configKeySet);
        client->setConfigKey(key, value, false, false);
        QVERIFY(set.wait(30000));
    }

    // Untouched, the editor's replace leaves the node's config as it was, a no-break space included.
    void theConfigWindowReplacesNothingUnedited()
    {
        setConfigText(u"Gateway.RootRedirect"_s, u"/ipfs/a\u00a0b"_s);
        const QJsonObject before = nodeConfigAfterReplacing(QJsonDocument(nodeConfig()).toJson(QJsonDocument::Indented));
        QCOMPARE(before[u"Gateway"_s][u"RootRedirect"_s].toString(), u"/ipfs/a\u00a0b"_s);
        replaceThroughTheWindow([](QString text) { return text; });
        QCOMPARE(differences(nodeConfig(), before), QString());
    }

    // Edited, the node takes the edit and keeps its own identity.
    void theConfigWindowReplacesWhatWasEdited()
    {
        setConfigText(u"Gateway.RootRedirect"_s, QString());
        QJsonObject expected = nodeConfigAfterReplacing(QJsonDocument(nodeConfig()).toJson(QJsonDocument::Indented));
        QCOMPARE(expected[u"Datastore"_s][u"StorageMax"_s].toString(), u"10GB"_s);
        replaceThroughTheWindow(
            [](QString text) { return text.replace(u"\"StorageMax\": \"10GB\""_s, u"\"StorageMax\": \"12GB\""_s); });
        QJsonObject datastore = expected[u"Datastore"_s].toObject();
        datastore[u"StorageMax"_s] = u"12GB"_s;
        expected[u"Datastore"_s] = datastore;
        QCOMPARE(differences(nodeConfig(), expected), QString());
        QCOMPARE(nodeConfig()[u"Identity"_s][u"PeerID"_s].toString(), node.post(u"/id"_s).json()[u"ID"_s].toString());
    }

    void repositoryStatisticsAreTheNodes()
    {
        const QJsonObject expected = node.post(u"/repo/stat"_s).json();
        QSignalSpy stat(client.get(), &IpfsClient::repoStatReceived);
        client->fetchRepoStat();
        QVERIFY(stat.wait(30000));
        QCOMPARE(stat.first().first().toJsonObject(), expected);
    }

    void garbageCollectionRemovesWhatNoPinHolds()
    {
        const QString garbage = node.addOne({ { u"garbage.txt"_s, "collect me\n" } }, { { u"pin"_s, u"false"_s } });
        const QString kept = node.addOne({ { u"kept.txt"_s, "keep me\n" } }, {});
        QVERIFY(localBlocks().contains(blockOf(garbage)));

        QSignalSpy collected(client.get(), &IpfsClient::repoGcCompleted);
        QSignalSpy failed(client.get(), &IpfsClient::repoGcFailed);
        client->runRepoGc();
        QTRY_VERIFY_WITH_TIMEOUT(collected.count() + failed.count() == 1, 60000);
        QVERIFY2(collected.count() == 1, qPrintable(failed.value(0).value(0).toString()));
        QVERIFY(blocksOf(collected.first().at(0).toStringList()).contains(blockOf(garbage)));
        QCOMPARE(collected.first().at(1).toStringList(), QStringList());
        const QSet<QString> left = localBlocks();
        QVERIFY(!left.contains(blockOf(garbage)));
        QVERIFY(left.contains(blockOf(kept)));
    }

    void theRepositoryWindowShowsTheNodesFigures()
    {
        const QString garbage = node.addOne({ { u"window-garbage.txt"_s, "collect me too\n" } }, { { u"pin"_s, u"false"_s } });
        const QJsonObject stat = node.post(u"/repo/stat"_s).json();
        GcDialog dialog(client.get(), nullptr);
        auto* status = dialog.findChild<QLabel*>(u"statusLabel"_s);
        auto* output = dialog.findChild<QTextEdit*>(u"outputEdit"_s);
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), u"Repo stats loaded"_s, 30000);
        const QStringList report = output->toPlainText().split(u'\n');
        const qint64 size = stat.value(u"RepoSize"_s).toInteger();
        QVERIFY2(report.contains(u"NumObjects: %1"_s.arg(stat.value(u"NumObjects"_s).toInteger())), qPrintable(report.join(u'|')));
        QVERIFY2(report.contains(u"RepoSize: %1 (%2 B)"_s.arg(GcDialog::formatBytes(size)).arg(size)), qPrintable(report.join(u'|')));
        QVERIFY(report.contains(u"RepoPath: "_s + stat.value(u"RepoPath"_s).toString()));

        dialog.findChild<QPushButton*>(u"runGcButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), u"GC completed"_s, 60000);
        QStringList listed;
        for (const QString& line : output->toPlainText().split(u'\n')) {
            if (line.startsWith(u" - "_s))
                listed.append(line.mid(3));
        }
        QVERIFY2(blocksOf(listed).contains(blockOf(garbage)), qPrintable(output->toPlainText()));
    }
};

QTEST_MAIN(TestKuboAdmin)
#include "tst_kubo_admin.moc"
