#include <QtTest>

#include "ipfsclient.h"

class TestBuild : public QObject
{
    Q_OBJECT
private slots:
    void clientConstructs()
    {
        IpfsClient client;
        QCOMPARE(client.baseUrl(), QString());
    }
};

QTEST_MAIN(TestBuild)
#include "tst_build.moc"
