#include <QtTest>

#include "cidtext.h"

using namespace Qt::StringLiterals;

namespace {

// Forms of the same blocks as a node printed them ("/cid/format", "/refs/local", "/add").
const QString kFileV0 = u"QmYFfiHyWEg5uS1x319hbfvMQBYQojyYty1ei5pfWNQBYT"_s;
const QString kFileV1 = u"bafybeietjymx2calyphovxmugksq5zflzjnjgonhzr2rp7m22whmvabgsa"_s;
const QString kFileV1Base58 = u"zdj7WfLv5j3Mi9gn9Ksmk7KU3kv2PjrXHPgmHRBNtDLKoy5iP"_s;
const QString kFileRaw = u"bafkreietjymx2calyphovxmugksq5zflzjnjgonhzr2rp7m22whmvabgsa"_s;
const QString kEmptyFolderV0 = u"QmUNLLsPACCz1vLxQVkXqqLX5R1X345qqfHbsf67hvA3Nn"_s;
const QString kEmptyFolderV1 = u"bafybeiczsscdsbs7ffqz55asqdf3smv6klcw3gofszvwlyarci47bgf354"_s;
const QString kRawLeaf = u"bafkreihaowpnmduvc2ctmr4tqzueyz5rcanvlxyljeo3dv4ss27ii6ni7e"_s;
const QString kRawLeafBase58 = u"zb2rhmkUYNSx4MW3C7BbwYxXN36j4M29c5wUCsUvs8pikzFVr"_s;

} // namespace

class TestCidText : public QObject
{
    Q_OBJECT

private slots:
    void readsEveryForm_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("version");
        QTest::addColumn<quint64>("codec");
        QTest::addColumn<QString>("sameBlockAs"); // a form with the same multihash
        QTest::newRow("CIDv0") << kFileV0 << 0 << kDagPbCodec << kFileRaw;
        QTest::newRow("CIDv1 base32") << kFileV1 << 1 << kDagPbCodec << kFileV0;
        QTest::newRow("CIDv1 base58btc") << kFileV1Base58 << 1 << kDagPbCodec << kFileV1;
        QTest::newRow("raw block") << kFileRaw << 1 << kRawCodec << kFileV1Base58;
        QTest::newRow("raw leaf base58btc") << kRawLeafBase58 << 1 << kRawCodec << kRawLeaf;
    }

    void readsEveryForm()
    {
        QFETCH(QString, text);
        QFETCH(QString, sameBlockAs);
        const CidParts parts = decodeCid(text);
        QVERIFY(parts.isValid());
        QTEST(parts.version, "version");
        QTEST(parts.codec, "codec");
        QCOMPARE(parts.multihash.size(), 34);
        QCOMPARE(cidMultihash(text), cidMultihash(sameBlockAs));
        QVERIFY(cidMultihash(text) != cidMultihash(kEmptyFolderV0));
    }

    void writesWhatTheNodeWrites()
    {
        const QByteArray file = cidMultihash(kFileV0);
        QCOMPARE(cidV0Text(file), kFileV0);
        QCOMPARE(cidV1Text(kDagPbCodec, file), kFileV1);
        QCOMPARE(cidV1Text(kRawCodec, file), kFileRaw);
        QCOMPARE(cidV1Text(kRawCodec, cidMultihash(kRawLeafBase58)), kRawLeaf);
        QCOMPARE(otherCidVersionText(kEmptyFolderV0), kEmptyFolderV1);
        QCOMPARE(otherCidVersionText(kEmptyFolderV1), kEmptyFolderV0);
        QCOMPARE(otherCidVersionText(kFileV1Base58), kFileV0);
        // A raw block has no CIDv0 form, and an unreadable text no other form.
        QCOMPARE(otherCidVersionText(kRawLeaf), QString());
        QCOMPARE(otherCidVersionText(u"Qm"_s), QString());
        // Only a SHA2-256 digest of 32 bytes has a CIDv0 form.
        QByteArray identity("\x00\x03" "abc", 5);
        QCOMPARE(cidV0Text(identity), QString());
        QCOMPARE(decodeCid(cidV1Text(kDagPbCodec, identity)).multihash, identity);
    }

    void refusesWhatIsNoCid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("multibase prefix only") << u"b"_s;
        QTest::newRow("CIDv0 one character short") << kFileV0.chopped(1);
        QTest::newRow("CIDv0 with a letter base58 leaves out") << QString(kFileV0).replace(10, 1, u'0');
        QTest::newRow("CIDv0 text of no SHA2-256 multihash") << QString(kFileV0).replace(2, 1, u'1');
        QTest::newRow("base32 in capitals after b") << u"b"_s + kFileV1.mid(1).toUpper();
        QTest::newRow("base32 digest cut") << kFileV1.chopped(8);
        QTest::newRow("base32 with a byte too many") << kFileV1 + u"aa"_s;
        QTest::newRow("base32 with non-zero padding bits") << kFileV1.chopped(1) + u'b';
        QTest::newRow("unknown multibase") << u"f01701220"_s;
        QTest::newRow("version 2") << u"bajybeietjymx2calyphovxmugksq5zflzjnjgonhzr2rp7m22whmvabgsa"_s;
        QTest::newRow("non-ASCII") << u"bafy\u00e9"_s;
        QTest::newRow("plain text") << u"not a cid"_s;
    }

    void refusesWhatIsNoCid()
    {
        QFETCH(QString, text);
        QVERIFY(!decodeCid(text).isValid());
        QVERIFY(cidMultihash(text).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCidText)
#include "tst_cidtext.moc"
