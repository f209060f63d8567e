#include <QtTest>

#include "e2enode.h"

// The independent node comes up and answers over its own RPC; if this fails, every e2e case would.
class TestE2eSmoke : public QObject
{
    Q_OBJECT
private slots:
    void nodeAnswersIdentityAndAdds()
    {
        E2eNode node;
        E2E_START_NODE(node);
        const auto id = node.post(QStringLiteral("/id"));
        QCOMPARE(id.status, 200);
        QVERIFY(!id.json().object().value(QStringLiteral("ID")).toString().isEmpty());

        const auto added = node.add({ { QStringLiteral("hello.txt"), "hello" } },
                                    { { QStringLiteral("cid-version"), QStringLiteral("1") } });
        QVERIFY(!added.isEmpty());
        QVERIFY(!added.last().value(QStringLiteral("Hash")).toString().isEmpty());
    }
};

QTEST_MAIN(TestE2eSmoke)
#include "tst_e2e_smoke.moc"
