#include <QtTest>

#include "kubonode.h"
#include "kubowindow.h"
#include "testhome.h"

using namespace Qt::StringLiterals;

// "Unpin all listed CIDs" in the main window against a real Kubo, at the size users have.
class TestKuboUnpinAll : public QObject
{
    Q_OBJECT

    KuboNode node;

    QSet<QString> nodePins(const QStringList& types)
    {
        QSet<QString> cids;
        for (const QString& type : types) {
            const auto pins = node.pins(type);
            cids.unite(QSet<QString>(pins.keyBegin(), pins.keyEnd()));
        }
        return cids;
    }

    static QSet<QString> shown(const KuboWindow& window)
    {
        const auto rows = window.rows();
        return QSet<QString>(rows.keyBegin(), rows.keyEnd());
    }

private slots:
    void initTestCase()
    {
        useFreshTestHome();
        KUBO_START_NODE(node);
    }

    void cleanupTestCase() { node.stop(); }

    // With every type listed the table holds indirect pins, which the node does not unpin: what
    // can go goes, and the window says how many were left out.
    void unpinsEveryPinOfAllTypes()
    {
        const QString folder = node.addOne({ { u"album/one.txt"_s, "one\n" }, { u"album/two.txt"_s, "two\n" },
                                               { u"album/three.txt"_s, "three\n" } },
            { { u"cid-version"_s, u"1"_s }, { u"wrap-with-directory"_s, u"true"_s } });
        QVERIFY(!folder.isEmpty());
        const int indirect = int(node.pins(u"indirect"_s).size());
        QVERIFY(indirect >= 4);

        const QSet<QString> listed = nodePins({ u"all"_s });
        KuboWindow window(node, { { u"typeFilter"_s, u"all"_s }, { u"loadMetadata"_s, false } });
        QTRY_COMPARE_WITH_TIMEOUT(shown(window), listed, 30000);
        QTRY_VERIFY(window.action(u"Unpin all listed CIDs"_s)->isEnabled());
        window.action(u"Unpin all listed CIDs"_s)->trigger();

        // The window reloads once the node has answered; asking the node meanwhile would stall it.
        QTRY_VERIFY_WITH_TIMEOUT(shown(window).isEmpty(), 30000);
        QCOMPARE(nodePins({ u"recursive"_s, u"direct"_s }), QSet<QString>());
        QVERIFY2(window.notification().contains(QString::number(indirect)), qPrintable(window.notification().left(500)));
    }

    void unpinsTwentyThousandPins()
    {
        // One upload, each file its own root: every file a pin of its own.
        QList<KuboNode::File> files;
        for (int i = 0; i < 20000; ++i)
            files.append({ u"file-%1.txt"_s.arg(i), "small file " + QByteArray::number(i) + '\n' });
        const QList<QJsonObject> added = node.add(files, { { u"cid-version"_s, u"1"_s } });
        QCOMPARE(added.size(), files.size());
        const QSet<QString> pinned = nodePins({ u"recursive"_s, u"direct"_s });
        QVERIFY(pinned.size() >= 20000);

        KuboWindow window(node, { { u"loadMetadata"_s, false } });
        QVERIFY(QTest::qWaitFor([&] { return shown(window) == pinned; }, 60000));
        QTRY_VERIFY(window.action(u"Unpin all listed CIDs"_s)->isEnabled());
        window.action(u"Unpin all listed CIDs"_s)->trigger();

        // The node itself needs about 10 ms per pin on a busy 2-core machine.
        const bool emptied = QTest::qWaitFor([&] { return shown(window).isEmpty(); }, 600000);
        QVERIFY2(emptied, qPrintable(window.notification().left(500)));
        QCOMPARE(nodePins({ u"recursive"_s, u"direct"_s }), QSet<QString>());
        QVERIFY2(window.notification().contains(QString::number(pinned.size()))
                || window.notification().contains(QLocale().toString(pinned.size())),
            qPrintable(window.notification().left(500)));
    }
};

QTEST_MAIN(TestKuboUnpinAll)
#include "tst_kubo_unpinall.moc"
