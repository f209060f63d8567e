#include <QtTest>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBrush>

#include <numeric>

#include "pinmodel.h"

using namespace Qt::StringLiterals;

namespace {

PinEntry pin(const QString& cid, const QString& type, const QString& name = QString(), int refs = -1,
    qint64 size = -1, const QString& kind = QString())
{
    PinEntry entry;
    entry.cid = cid;
    entry.type = type;
    entry.name = name;
    entry.refsCount = refs;
    entry.dagSize = size;
    entry.kind = kind;
    return entry;
}

QVariant colour(int rgb)
{
    return QVariant(QColor(QRgb(rgb)));
}

const QString Dash = QStringLiteral("\u2014");
const QString Ellipsis = QStringLiteral("\u2026");

QStringList proxyColumn(const QAbstractItemModel& proxy, int column, int role = Qt::UserRole)
{
    QStringList values;
    for (int row = 0; row < proxy.rowCount(); ++row)
        values.append(proxy.index(row, column).data(role).toString());
    return values;
}

} // namespace

class TestPinModel : public QObject
{
    Q_OBJECT

private slots:
    void cellValues_data()
    {
        QTest::addColumn<PinEntry>("entry");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("display");
        QTest::addColumn<QVariant>("foreground");

        const QVariant none;
        const QVariant placeholder = colour(0xbdc3c7);
        QTest::newRow("cid") << pin(QStringLiteral("bafyA"), QStringLiteral("recursive")) << 0
                             << QVariant(QStringLiteral("bafyA")) << colour(0x9ca3af);
        QTest::newRow("refs pending") << pin(QStringLiteral("a"), QStringLiteral("recursive")) << 1
                                      << QVariant(Ellipsis) << placeholder;
        QTest::newRow("refs zero") << pin(QStringLiteral("a"), QStringLiteral("recursive"), {}, 0) << 1
                                   << QVariant(0) << none;
        QTest::newRow("refs count") << pin(QStringLiteral("a"), QStringLiteral("recursive"), {}, 12) << 1
                                    << QVariant(12) << none;
        QTest::newRow("refs direct") << pin(QStringLiteral("a"), QStringLiteral("direct"), {}, 3) << 1
                                     << QVariant(Dash) << placeholder;
        QTest::newRow("refs indirect")
            << pin(QStringLiteral("a"), QStringLiteral("indirect")) << 1 << QVariant(Dash) << placeholder;
        QTest::newRow("refs other case") << pin(QStringLiteral("a"), QStringLiteral("Recursive"), {}, 3) << 1
                                         << QVariant(Dash) << placeholder;
        QTest::newRow("type recursive") << pin(QStringLiteral("a"), QStringLiteral("recursive")) << 2
                                        << QVariant(QStringLiteral("recursive")) << colour(0x27ae60);
        QTest::newRow("type direct") << pin(QStringLiteral("a"), QStringLiteral("direct")) << 2
                                     << QVariant(QStringLiteral("direct")) << colour(0x2980b9);
        QTest::newRow("type indirect") << pin(QStringLiteral("a"), QStringLiteral("indirect")) << 2
                                       << QVariant(QStringLiteral("indirect")) << colour(0x8e44ad);
        QTest::newRow("type empty") << pin(QStringLiteral("a"), QString()) << 2 << QVariant(Dash) << none;
        QTest::newRow("type unknown text") << pin(QStringLiteral("a"), QStringLiteral("Direct")) << 2
                                           << QVariant(QStringLiteral("Direct")) << none;
        QTest::newRow("kind pending")
            << pin(QStringLiteral("a"), QStringLiteral("direct")) << 3 << QVariant(Ellipsis) << placeholder;
        QTest::newRow("kind known") << pin(
            QStringLiteral("a"), QStringLiteral("direct"), {}, -1, -1, QStringLiteral("Directory"))
                                    << 3 << QVariant(QStringLiteral("Directory")) << none;
        QTest::newRow("size pending")
            << pin(QStringLiteral("a"), QStringLiteral("direct")) << 4 << QVariant(Ellipsis) << placeholder;
        QTest::newRow("size zero") << pin(QStringLiteral("a"), QStringLiteral("direct"), {}, -1, 0) << 4
                                   << QVariant(QStringLiteral("0 B")) << none;
        QTest::newRow("size known") << pin(QStringLiteral("a"), QStringLiteral("direct"), {}, -1, 1536) << 4
                                    << QVariant(QStringLiteral("1.5 KB")) << none;
        QTest::newRow("name empty") << pin(QStringLiteral("a"), QStringLiteral("direct")) << 5
                                    << QVariant(Dash) << placeholder;
        QTest::newRow("name") << pin(QStringLiteral("a"), QStringLiteral("direct"), QStringLiteral("photos"))
                              << 5 << QVariant(QStringLiteral("photos")) << none;
    }

    void cellValues()
    {
        QFETCH(PinEntry, entry);
        QFETCH(int, column);
        QFETCH(QVariant, display);
        QFETCH(QVariant, foreground);

        PinModel model;
        model.setPins({ entry });
        const QModelIndex index = model.index(0, column);
        const QVariant shown = index.data(Qt::DisplayRole);
        QCOMPARE(shown.typeId(), display.typeId());
        QCOMPARE(shown, display);
        const QVariant brush = index.data(Qt::ForegroundRole);
        if (foreground.isValid()) {
            QCOMPARE(brush.typeId(), QMetaType::QBrush);
            QCOMPARE(brush.value<QBrush>().color(), foreground.value<QColor>());
            QCOMPARE(brush.value<QBrush>().style(), Qt::SolidPattern);
        } else {
            QVERIFY(!brush.isValid());
        }
        QCOMPARE(index.data(Qt::UserRole).toString(), entry.cid);
        QVERIFY(!index.data(Qt::ToolTipRole).isValid());
    }

    void fontsHeadersAndFlags()
    {
        PinModel model;
        model.setPins({ pin(QStringLiteral("a"), QStringLiteral("direct")) });
        const QFont cidFont = model.index(0, 0).data(Qt::FontRole).value<QFont>();
        QCOMPARE(cidFont.family(), QStringLiteral("Courier New"));
        QCOMPARE(cidFont.pointSize(), 12);
        QVERIFY(!model.index(0, 1).data(Qt::FontRole).isValid());

        const QStringList headers { QStringLiteral("CID"), QStringLiteral("Refs"), QStringLiteral("Type"),
            QStringLiteral("Kind"), QStringLiteral("Total DAG size"), QStringLiteral("Name") };
        for (int section = 0; section < headers.size(); ++section)
            QCOMPARE(model.headerData(section, Qt::Horizontal).toString(), headers.at(section));
        QVERIFY(!model.headerData(6, Qt::Horizontal).isValid());
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

        QCOMPARE(model.flags(model.index(0, 0)), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
        QVERIFY(!model.index(1, 0).isValid());
        QVERIFY(!model.data(model.index(0, 6)).isValid());
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
        QCOMPARE(model.columnCount(model.index(0, 0)), 0);
    }

    void headerFont_data()
    {
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("expected");
        QTest::newRow("8 points") << 8 << -1 << 10;
        QTest::newRow("9 points") << 9 << -1 << 11;
        QTest::newRow("12 points") << 12 << -1 << 14;
        QTest::newRow("pixel sized") << -1 << 13 << 10;
    }

    void headerFont()
    {
        QFETCH(int, pointSize);
        QFETCH(int, pixelSize);
        QFETCH(int, expected);
        const QFont original = QApplication::font();
        QFont font = original;
        if (pixelSize > 0)
            font.setPixelSize(pixelSize);
        else
            font.setPointSize(pointSize);
        QApplication::setFont(font);
        PinModel model;
        const QFont header = model.headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>();
        QApplication::setFont(original);
        QCOMPARE(header.pointSize(), expected);
        QCOMPARE(header.weight(), QFont::Bold);
        // Built once: a later application font does not change it.
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>().pointSize(), expected);
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << qint64(-1) << QString();
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0 B");
        QTest::newRow("512") << qint64(512) << QStringLiteral("512 B");
        QTest::newRow("1023") << qint64(1023) << QStringLiteral("1023 B");
        QTest::newRow("1024") << qint64(1024) << QStringLiteral("1.0 KB");
        QTest::newRow("1536") << qint64(1536) << QStringLiteral("1.5 KB");
        QTest::newRow("1048575") << qint64(1048575) << QStringLiteral("1024.0 KB");
        QTest::newRow("1048576") << qint64(1048576) << QStringLiteral("1.0 MB");
        QTest::newRow("1073741823") << qint64(1073741823) << QStringLiteral("1024.0 MB");
        QTest::newRow("1073741824") << qint64(1073741824) << QStringLiteral("1.0 GB");
        QTest::newRow("2 TiB") << (qint64(2) << 40) << QStringLiteral("2048.0 GB");
        QTest::newRow("no grouping") << qint64(1234567890123) << QStringLiteral("1149.8 GB");
    }

    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(PinModel::formatSize(bytes), text);
    }

    void cellUpdatesSignalOneCellEach()
    {
        PinModel model;
        model.setPins({ pin(QStringLiteral("a"), QStringLiteral("recursive")),
            pin(QStringLiteral("b"), QStringLiteral("direct")),
            pin(QStringLiteral("a"), QStringLiteral("recursive")) });
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);

        const auto checkCells = [&](int column, const QList<int>& roles) {
            QCOMPARE(changed.size(), 2);
            for (int i = 0; i < 2; ++i) {
                const auto topLeft = changed.at(i).at(0).value<QModelIndex>();
                QCOMPARE(changed.at(i).at(1).value<QModelIndex>(), topLeft);
                QCOMPARE(topLeft.row(), i == 0 ? 0 : 2);
                QCOMPARE(topLeft.column(), column);
                const auto sent = changed.at(i).at(2).value<QList<int>>();
                for (const int role : roles)
                    QVERIFY2(sent.contains(role), qPrintable(QString::number(role)));
            }
            changed.clear();
        };

        model.setRefsCount(QStringLiteral("a"), 4);
        checkCells(1, { Qt::DisplayRole, Qt::ToolTipRole });
        QCOMPARE(model.index(2, 1).data().toInt(), 4);
        model.setDagSize(QStringLiteral("a"), 2048);
        checkCells(4, { Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole });
        QCOMPARE(model.index(0, 4).data().toString(), QStringLiteral("2.0 KB"));
        model.setKind(QStringLiteral("a"), QStringLiteral("File"));
        checkCells(3, { Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole });

        // Equal values and unknown CIDs change nothing.
        model.setRefsCount(QStringLiteral("a"), 4);
        model.setDagSize(QStringLiteral("a"), 2048);
        model.setKind(QStringLiteral("a"), QStringLiteral("File"));
        model.setDagSize(QStringLiteral("zzz"), 1);
        model.setKind(QString(), QStringLiteral("File"));
        QCOMPARE(changed.size(), 0);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(layout.size(), 0);
        QCOMPARE(model.index(1, 4).data().toString(), Ellipsis);
    }

    void wholeModelQueries()
    {
        PinModel model;
        QCOMPARE(model.countsByType().recursive, 0);
        QVERIFY(model.allCids().isEmpty());
        QVERIFY(!model.pinAt(0));

        model.setPins({ pin(QStringLiteral("a"), QStringLiteral("recursive")),
            pin(QString(), QStringLiteral("direct")), pin(QStringLiteral("c"), QStringLiteral("indirect")),
            pin(QStringLiteral("a"), QString()), pin(QStringLiteral("d"), QStringLiteral("direct")) });
        const PinTypeCounts counts = model.countsByType();
        QCOMPARE(counts.recursive, 1);
        QCOMPARE(counts.direct, 2);
        QCOMPARE(counts.indirect, 1);
        QCOMPARE(model.allCids(),
            (QStringList {
                QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("d") }));
        QCOMPARE(model.pinAt(2)->cid, QStringLiteral("c"));
        // The list order, whatever room is offered: only an unshared one of the right size is used.
        const QStringList inListOrder { QStringLiteral("a"), QString(), QStringLiteral("c"),
            QStringLiteral("a"), QStringLiteral("d") };
        QCOMPARE(model.cidsInListOrder(), inListOrder);
        QCOMPARE(model.cidsInListOrder(QStringList(5)), inListOrder);
        QCOMPARE(model.cidsInListOrder(QStringList(4)), inListOrder);
        const QStringList sharedRoom(5);
        QCOMPARE(model.cidsInListOrder(sharedRoom), inListOrder);
        QVERIFY(sharedRoom.at(0).isNull());
        QVERIFY(!model.pinAt(-1));
        QVERIFY(!model.pinAt(5));

        // A new load replaces the index as well: the old CIDs find nothing.
        model.setPins({ pin(QStringLiteral("x"), QStringLiteral("recursive")) });
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setRefsCount(QStringLiteral("a"), 1);
        QCOMPARE(changed.size(), 0);
        model.setRefsCount(QStringLiteral("x"), 1);
        QCOMPARE(changed.size(), 1);

        model.clear();
        QCOMPARE(model.rowCount(), 0);
        model.setRefsCount(QStringLiteral("x"), 2);
        QCOMPARE(changed.size(), 1);
    }

    void cidIndexFindsEveryRowInOrder()
    {
        QList<PinEntry> pins;
        for (int i = 0; i < 3000; ++i)
            pins.append(pin(QStringLiteral("bafy%1").arg(i % 1000), QStringLiteral("recursive")));
        pins.append(pin(QString(), QStringLiteral("direct")));
        CidRowIndex index;
        index.forEachRow(pins, QStringLiteral("bafy1"), [](int) { QFAIL("empty index"); });
        index.rebuild(pins);
        for (int i = 0; i < 1000; ++i) {
            QList<int> rows;
            index.forEachRow(pins, QStringLiteral("bafy%1").arg(i), [&rows](int row) { rows << row; });
            QCOMPARE(rows, (QList<int> { i, i + 1000, i + 2000 }));
        }
        int visits = 0;
        index.forEachRow(pins, QStringLiteral("bafy1000"), [&visits](int) { ++visits; });
        index.forEachRow(pins, QString(), [&visits](int) { ++visits; });
        QCOMPARE(visits, 0);
        index.clear();
        index.forEachRow(pins, QStringLiteral("bafy1"), [&visits](int) { ++visits; });
        QCOMPARE(visits, 0);
    }

    void typeRule_data()
    {
        QTest::addColumn<QString>("typeFilter");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("recursive+direct")
            << QStringLiteral("recursive+direct")
            << QStringList { QStringLiteral("r"), QStringLiteral("d"), QStringLiteral("o") };
        QTest::newRow("all") << QStringLiteral("all")
                             << QStringList { QStringLiteral("r"), QStringLiteral("d"), QStringLiteral("i"),
                                    QStringLiteral("o") };
        QTest::newRow("indirect") << QStringLiteral("indirect")
                                  << QStringList { QStringLiteral("r"), QStringLiteral("d"),
                                         QStringLiteral("i"), QStringLiteral("o") };
        QTest::newRow("different case") << QStringLiteral("Recursive+Direct")
                                        << QStringList { QStringLiteral("r"), QStringLiteral("d"),
                                               QStringLiteral("i"), QStringLiteral("o") };
    }

    void typeRule()
    {
        QFETCH(QString, typeFilter);
        QFETCH(QStringList, shown);
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setPins({ pin(QStringLiteral("r"), QStringLiteral("recursive")),
            pin(QStringLiteral("d"), QStringLiteral("direct")),
            pin(QStringLiteral("i"), QStringLiteral("indirect")), pin(QStringLiteral("o"), QString()) });
        proxy.setTypeFilter(typeFilter);
        QCOMPARE(proxy.currentTypeFilter(), typeFilter);
        QCOMPARE(proxyColumn(proxy, 0), shown);
    }

    void search_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        const QStringList all { QStringLiteral("bafyAbc1"), QStringLiteral("bafyXyz2"),
            QStringLiteral("QmAbc3"), QStringLiteral("bafyA.c4") };
        QTest::newRow("empty search") << 0 << QString() << all;
        QTest::newRow("cid substring any case")
            << 0 << QStringLiteral("ABC")
            << QStringList { QStringLiteral("bafyAbc1"), QStringLiteral("QmAbc3") };
        QTest::newRow("cid dot is literal")
            << 0 << QStringLiteral("a.c") << QStringList { QStringLiteral("bafyA.c4") };
        QTest::newRow("cid from a non-letter")
            << 0 << QStringLiteral(".C4") << QStringList { QStringLiteral("bafyA.c4") };
        QTest::newRow("cid no match") << 0 << QStringLiteral("(nothing[") << QStringList {};
        QTest::newRow("cid does not search names") << 0 << QStringLiteral("holiday") << QStringList {};
        QTest::newRow("name substring")
            << 1 << QStringLiteral("HOLI") << QStringList { QStringLiteral("bafyAbc1") };
        // The Kelvin sign folds to "k": a name beyond ASCII still takes Unicode case folding.
        QTest::newRow("name folds beyond ascii")
            << 1 << QStringLiteral("KEY") << QStringList { QStringLiteral("QmAbc3") };
        QTest::newRow("name dash finds unnamed")
            << 1 << Dash << QStringList { QStringLiteral("bafyXyz2"), QStringLiteral("bafyA.c4") };
        QTest::newRow("name does not search cids") << 1 << QStringLiteral("bafy") << QStringList {};
        QTest::newRow("indirect hidden though it matches") << 1 << QStringLiteral("notes") << QStringList {};
    }

    void search()
    {
        QFETCH(int, mode);
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        proxy.setTypeFilter(QStringLiteral("recursive+direct"));
        QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setPins(
            { pin(QStringLiteral("bafyAbc1"), QStringLiteral("recursive"), QStringLiteral("Holiday photos")),
                pin(QStringLiteral("bafyXyz2"), QStringLiteral("direct")),
                pin(QStringLiteral("QmAbc3"), QStringLiteral("recursive"), QStringLiteral("\u212Aey backup")),
                pin(QStringLiteral("bafyA.c4"), QStringLiteral("direct")),
                pin(QStringLiteral("bafyInd5"), QStringLiteral("indirect"), QStringLiteral("notes")) });
        proxy.setSearchMode(PinFilterProxyModel::SearchMode(mode));
        proxy.setFilterFixedString(text);
        QStringList visible = proxyColumn(proxy, 0);
        visible.sort();
        shown.sort();
        QCOMPARE(visible, shown);
    }

    void searchModeSwitchRefilters()
    {
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        model.setPins({ pin(QStringLiteral("bafy1"), QStringLiteral("recursive"), QStringLiteral("docs")),
            pin(QStringLiteral("docs2"), QStringLiteral("recursive")) });
        proxy.setFilterFixedString(QStringLiteral("docs"));
        QCOMPARE(proxyColumn(proxy, 0), QStringList { QStringLiteral("docs2") });
        proxy.setSearchMode(PinFilterProxyModel::SearchByName);
        QCOMPARE(proxy.currentSearchMode(), PinFilterProxyModel::SearchByName);
        QCOMPARE(proxyColumn(proxy, 0), QStringList { QStringLiteral("bafy1") });

        // A regular expression set by other code still works as one.
        proxy.setSearchMode(PinFilterProxyModel::SearchByCid);
        proxy.setFilterRegularExpression(QRegularExpression(QStringLiteral("^bafy\\d$")));
        QCOMPARE(proxyColumn(proxy, 0), QStringList { QStringLiteral("bafy1") });
    }

    void searchSetOnAnEmptyTableFiltersTheNextLoad()
    {
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        // Asks for the rows as a view does, inside the reset.
        QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        proxy.setFilterFixedString(QStringLiteral("docs"));
        // Set by other code while there is no row to filter.
        proxy.setFilterRegularExpression(QRegularExpression(QStringLiteral("^bafy")));
        model.setPins({ pin(QStringLiteral("bafy1"), QStringLiteral("recursive")),
            pin(QStringLiteral("docs2"), QStringLiteral("recursive")) });
        QCOMPARE(proxyColumn(proxy, 0), QStringList { QStringLiteral("bafy1") });
    }

    void searchKeepsSelectedRowsAndFoldsCase()
    {
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QList<PinEntry> pins;
        for (int i = 0; i < 50; ++i)
            pins.append(pin(QStringLiteral("bafy%1").arg(i), QStringLiteral("recursive"),
                i == 7 ? QStringLiteral("\u00C4pfel") : QString()));
        model.setPins(pins);
        QItemSelectionModel selection(&proxy);
        const auto selectCid = [&](const QString& cid) {
            for (int row = 0; row < proxy.rowCount(); ++row) {
                if (proxy.index(row, 0).data(Qt::UserRole).toString() == cid)
                    selection.select(
                        proxy.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
        };
        selectCid(QStringLiteral("bafy7"));
        selectCid(QStringLiteral("bafy30"));

        // Rows that stay visible stay selected; hidden ones leave the selection.
        proxy.setFilterFixedString(QStringLiteral("BAFY7"));
        QCOMPARE(proxyColumn(proxy, 0), QStringList { QStringLiteral("bafy7") });
        QCOMPARE(selection.selectedRows().size(), 1);
        QCOMPARE(selection.selectedRows().first().data(Qt::UserRole).toString(), QStringLiteral("bafy7"));

        // Case folding beyond ASCII, on names.
        proxy.setSearchMode(PinFilterProxyModel::SearchByName);
        proxy.setFilterFixedString(QStringLiteral("\u00E4PF"));
        QCOMPARE(proxyColumn(proxy, 0), QStringList { QStringLiteral("bafy7") });
        proxy.setFilterFixedString(QString());
        QCOMPARE(proxy.rowCount(), 50);
    }

    void sortsByValue_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("expected");
        // a: 10 refs, 10 B; b: 2 refs, 1.5 KB; c: recursive, nothing known; d: direct, 512 B;
        // e: 1000 refs, 3 MB.
        QTest::newRow("refs ascending")
            << 1 << int(Qt::AscendingOrder)
            << QStringList { QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("e"),
                   QStringLiteral("c"), QStringLiteral("d") };
        QTest::newRow("refs descending")
            << 1 << int(Qt::DescendingOrder)
            << QStringList { QStringLiteral("e"), QStringLiteral("a"), QStringLiteral("b"),
                   QStringLiteral("c"), QStringLiteral("d") };
        QTest::newRow("size ascending")
            << 4 << int(Qt::AscendingOrder)
            << QStringList { QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b"),
                   QStringLiteral("e"), QStringLiteral("c") };
        QTest::newRow("size descending")
            << 4 << int(Qt::DescendingOrder)
            << QStringList { QStringLiteral("e"), QStringLiteral("b"), QStringLiteral("d"),
                   QStringLiteral("a"), QStringLiteral("c") };
        QTest::newRow("name ascending, unnamed last")
            << 5 << int(Qt::AscendingOrder)
            << QStringList { QStringLiteral("b"), QStringLiteral("e"), QStringLiteral("a"),
                   QStringLiteral("c"), QStringLiteral("d") };
        QTest::newRow("name descending, unnamed last")
            << 5 << int(Qt::DescendingOrder)
            << QStringList { QStringLiteral("a"), QStringLiteral("e"), QStringLiteral("b"),
                   QStringLiteral("c"), QStringLiteral("d") };
        QTest::newRow("cid descending")
            << 0 << int(Qt::DescendingOrder)
            << QStringList { QStringLiteral("e"), QStringLiteral("d"), QStringLiteral("c"),
                   QStringLiteral("b"), QStringLiteral("a") };
    }

    void sortsByValue()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QStringList, expected);
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        model.setPins({ pin(QStringLiteral("a"), QStringLiteral("recursive"), QStringLiteral("zeta"), 10, 10),
            pin(QStringLiteral("b"), QStringLiteral("recursive"), QStringLiteral("Alpha"), 2, 1536),
            pin(QStringLiteral("c"), QStringLiteral("recursive")),
            pin(QStringLiteral("d"), QStringLiteral("direct"), QString(), -1, 512),
            pin(QStringLiteral("e"), QStringLiteral("recursive"), QStringLiteral("beta"), 1000, 3 << 20) });
        proxy.sort(column, Qt::SortOrder(order));
        QCOMPARE(proxyColumn(proxy, 0), expected);
        // Displayed texts are unchanged by the sort.
        QCOMPARE(proxy.index(expected.indexOf(QStringLiteral("d")), 1).data().toString(), Dash);
    }

    // Names that agree far into the text, differ only past the first units, hold a NUL or units of
    // either half of UTF-16, or repeat: the table's order is that of comparing the whole texts,
    // equal names in the order given, unnamed rows last.
    void namesSortAsWholeTextsCompare_data()
    {
        QTest::addColumn<int>("order");
        QTest::newRow("ascending") << int(Qt::AscendingOrder);
        QTest::newRow("descending") << int(Qt::DescendingOrder);
    }

    void namesSortAsWholeTextsCompare()
    {
        QFETCH(int, order);
        const QString shared = QStringLiteral("a-long-shared-prefix-of-names-");
        QStringList names { shared + u"b"_s, shared + u"a"_s, shared, QString(), shared + u"a"_s, u"ab"_s,
            QStringLiteral("a") + QChar(0) + u"c"_s, u"a"_s, QString::fromUcs4(U"😀"),
            QString(QChar(0xFFFD)), u"B"_s, QString(), u"file-000123.txt"_s, u"file-000122.txt"_s };
        for (int i = 0; i < 200; ++i)
            names.append(shared.left(i % 31) + QString::number((i * 7919) % 97));
        QList<PinEntry> pins;
        for (int i = 0; i < names.size(); ++i)
            pins.append(pin(u"cid%1"_s.arg(i, 4, 10, QLatin1Char('0')), u"recursive"_s, names.at(i)));

        QList<int> expected(names.size());
        std::iota(expected.begin(), expected.end(), 0);
        const bool descending = order == int(Qt::DescendingOrder);
        std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
            if (names.at(a).isEmpty() != names.at(b).isEmpty())
                return names.at(b).isEmpty();
            const int byText = QString::compare(names.at(a), names.at(b), Qt::CaseSensitive);
            return descending ? byText > 0 : byText < 0;
        });
        QStringList expectedCids;
        for (const int index : std::as_const(expected))
            expectedCids.append(pins.at(index).cid);

        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.sort(PinModel::NameColumn, Qt::SortOrder(order));
        model.setPins(pins);
        QCOMPARE(proxyColumn(proxy, 0), expectedCids);
    }

    // Values arriving in the sort column show at once; their rows move a little later, together.
    // A table past the size whose CID index is built beside the sort: every CID still finds its
    // rows, a CID listed twice both of them, in whichever column the table is sorted.
    void largeTableFindsEveryCid_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("background");
        QTest::newRow("by CID") << int(PinModel::CidColumn) << false;
        QTest::newRow("by name") << int(PinModel::NameColumn) << false;
        QTest::newRow("by CID, prepared on a worker") << int(PinModel::CidColumn) << true;
        QTest::newRow("by name, prepared on a worker") << int(PinModel::NameColumn) << true;
    }

    void largeTableFindsEveryCid()
    {
        QFETCH(int, column);
        QFETCH(bool, background);
        constexpr int count = 120000;
        QList<PinEntry> pins;
        pins.reserve(count + 1);
        for (int i = 0; i < count; ++i)
            pins.append(pin(u"bafy%1"_s.arg(i, 7, 10, QLatin1Char('0')), u"recursive"_s, u"n%1"_s.arg(count - i)));
        pins.append(pin(u"bafy0060000"_s, u"direct"_s));
        PinModel model;
        model.sort(column, Qt::AscendingOrder);
        if (background) {
            QSignalSpy applied(&model, &PinModel::pinsApplied);
            model.setPinsInBackground(pins);
            pins = {}; // the model's copy is the only one left, as in the window
            QVERIFY(applied.wait(30000));
        } else {
            model.setPins(pins);
        }
        QCOMPARE(model.rowCount(), count + 1);
        for (const int i : { 0, 1, 59999, 60000, count - 1 })
            model.setDagSize(u"bafy%1"_s.arg(i, 7, 10, QLatin1Char('0')), 1000 + i);
        QHash<QString, QStringList> sizes;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QString size = model.index(row, PinModel::DagSizeColumn).data().toString();
            if (size != Ellipsis)
                sizes[model.index(row, PinModel::CidColumn).data(Qt::UserRole).toString()].append(size);
        }
        QCOMPARE(sizes.size(), 5);
        QCOMPARE(sizes.value(u"bafy0060000"_s).size(), 2);
        QCOMPARE(sizes.value(u"bafy0119999"_s), QStringList { PinModel::formatSize(1000 + count - 1) });
    }

    // The table keeps its rows while a large list is prepared on a worker; what happens to the table
    // meanwhile (a new sort, a newer list) wins over what the worker was given.
    void aListPreparedOnAWorkerGivesWayToNewerChanges()
    {
        constexpr int count = PinModel::BackgroundPrepareRows;
        QList<PinEntry> large;
        large.reserve(count);
        for (int i = 0; i < count; ++i)
            large.append(pin(u"bafy%1"_s.arg(i, 7, 10, QLatin1Char('0')), u"recursive"_s, u"n%1"_s.arg(i % 1000)));
        const QList<PinEntry> small { pin(u"a"_s, u"recursive"_s), pin(u"b"_s, u"direct"_s) };

        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        QSignalSpy applied(&model, &PinModel::pinsApplied);
        model.setPins(small);
        QCOMPARE(applied.count(), 1);
        model.setPinsInBackground(large);
        QVERIFY(model.isPreparingPins());
        QCOMPARE(model.rowCount(), 2);
        // Sorted by name, descending, before the worker is done: the rows arrive in that order.
        model.sort(PinModel::NameColumn, Qt::DescendingOrder);
        // The rows are swapped in a turn of the event loop before those who follow a load hear of it.
        int appliedWhenSwapped = -1;
        const QMetaObject::Connection swapped = connect(&model, &QAbstractItemModel::modelReset, &model,
            [&] { QTimer::singleShot(0, &model, [&] { appliedWhenSwapped = int(applied.count()); }); });
        QVERIFY(applied.wait(30000));
        disconnect(swapped);
        QCOMPARE(appliedWhenSwapped, 1);
        QVERIFY(!model.isPreparingPins());
        QCOMPARE(proxy.rowCount(), count);
        QCOMPARE(model.pinAt(0)->name, u"n999"_s);
        QCOMPARE(model.pinAt(count - 1)->name, u"n0"_s);

        // A newer list given at once replaces one still being prepared, which never shows.
        applied.clear();
        model.setPinsInBackground(large);
        model.setPins(small);
        QCOMPARE(applied.count(), 1);
        QTest::qWait(500);
        QCOMPARE(applied.count(), 1);
        QCOMPARE(model.rowCount(), 2);
        model.setPinsInBackground(large);
        model.clear();
        QTest::qWait(500);
        QCOMPARE(model.rowCount(), 0);
    }

    void sortFollowsArrivingValues()
    {
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setPins({ pin(QStringLiteral("a"), QStringLiteral("recursive")),
            pin(QStringLiteral("b"), QStringLiteral("recursive")),
            pin(QStringLiteral("c"), QStringLiteral("direct")) });
        proxy.sort(1, Qt::AscendingOrder);
        QCOMPARE(model.sortColumn(), 1);
        QCOMPARE(proxyColumn(proxy, 0),
            (QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }));
        QSignalSpy moves(&model, &QAbstractItemModel::layoutChanged);
        model.setRefsCount(QStringLiteral("b"), 7);
        model.setRefsCount(QStringLiteral("a"), 9);
        QCOMPARE(proxy.index(0, 1).data().toInt(), 9);
        QCOMPARE(proxyColumn(proxy, 0),
            (QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }));
        QTRY_COMPARE(proxyColumn(proxy, 0),
            (QStringList { QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c") }));
        QCOMPARE(moves.size(), 1);

        proxy.sort(4, Qt::AscendingOrder);
        model.setDagSize(QStringLiteral("c"), 5);
        QTRY_COMPARE(proxyColumn(proxy, 0).first(), QStringLiteral("c"));
        QCOMPARE(proxy.index(0, 4).data(PinModel::SortRole).toLongLong(), 5);
        QVERIFY(!proxy.index(1, 4).data(PinModel::SortRole).isValid());

        // Values of another column move nothing.
        moves.clear();
        model.setRefsCount(QStringLiteral("a"), 1);
        QVERIFY(!model.hasPendingSort());
        QCOMPARE(moves.size(), 0);
    }

    void mergedArrivalsGiveTheOrderOfAFullSort_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("search");
        for (const int column : { 1, 3, 4 }) {
            for (const int order : { int(Qt::AscendingOrder), int(Qt::DescendingOrder) }) {
                QTest::addRow("column %d %s", column, order ? "descending" : "ascending")
                    << column << order << QString();
            }
        }
        QTest::newRow("size, searched") << 4 << int(Qt::AscendingOrder) << QStringLiteral("7");
        QTest::newRow("kind, searched") << 3 << int(Qt::DescendingOrder) << QStringLiteral("3");
    }

    // A merge of the rows whose values arrived gives the order a fresh sort of the same values
    // gives; selected rows, the search and duplicates of a CID come along.
    void mergedArrivalsGiveTheOrderOfAFullSort()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QString, search);
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        QList<PinEntry> pins;
        for (int i = 0; i < 300; ++i)
            pins.append(pin(QStringLiteral("bafy%1").arg(i),
                i % 3 ? QStringLiteral("recursive") : QStringLiteral("direct")));
        pins.append(pin(QStringLiteral("bafy17"), QStringLiteral("recursive"))); // a second row of a CID
        model.setPins(pins);
        proxy.sort(column, Qt::SortOrder(order));
        proxy.setFilterFixedString(search);
        QItemSelectionModel selection(&proxy);
        const auto selectedCids = [&] {
            QStringList cids;
            for (const QModelIndex& index : selection.selectedRows())
                cids.append(index.data(Qt::UserRole).toString());
            cids.sort();
            return cids;
        };
        for (const int row : { 0, 5, 9 })
            selection.select(proxy.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QStringList selected = selectedCids();

        QRandomGenerator random(column * 10 + order);
        const QStringList kinds { QStringLiteral("File"), QStringLiteral("Directory"),
            QStringLiteral("Other"), QStringLiteral("Symlink"), QStringLiteral("Archive"),
            QStringLiteral("Zip") };
        for (int batch = 0; batch < 4; ++batch) {
            for (int k = 0; k < 60; ++k) {
                const QString cid = QStringLiteral("bafy%1").arg(random.bounded(300));
                // Later batches bring new kinds, and change values already shown.
                model.setKind(cid, kinds.at(random.bounded(2 + batch)));
                model.setDagSize(cid, random.bounded(40) * 1000);
                model.setRefsCount(cid, random.bounded(25));
            }
            model.applyPendingSort();
            const QStringList merged = proxyColumn(proxy, 0);
            QCOMPARE(selectedCids(), selected);
            model.sort(column, Qt::SortOrder(order));
            QCOMPARE(merged, proxyColumn(proxy, 0));
        }
        QCOMPARE(proxy.rowCount() < 301, !search.isEmpty());
    }

    void modelTesterThroughALoadCycle()
    {
        PinModel model;
        PinFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        QAbstractItemModelTester modelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        proxy.sort(4, Qt::AscendingOrder);

        QList<PinEntry> pins;
        for (int i = 0; i < 200; ++i) {
            const QString type = i % 3 == 0 ? QStringLiteral("recursive")
                : i % 3 == 1                ? QStringLiteral("direct")
                                            : QStringLiteral("indirect");
            pins.append(
                pin(QStringLiteral("bafy%1").arg(i), type, i % 4 ? QStringLiteral("n%1").arg(i) : QString()));
        }
        model.setPins(pins);
        proxy.setTypeFilter(QStringLiteral("recursive+direct"));
        for (int i = 0; i < 200; i += 3)
            model.setRefsCount(QStringLiteral("bafy%1").arg(i), 200 - i);
        for (int i = 0; i < 200; i += 2)
            model.setDagSize(QStringLiteral("bafy%1").arg(i), i * 100);
        model.applyPendingSort();
        proxy.setFilterFixedString(QStringLiteral("bafy1"));
        proxy.setSearchMode(PinFilterProxyModel::SearchByName);
        proxy.setFilterFixedString(QStringLiteral("n1"));
        proxy.setTypeFilter(QStringLiteral("all"));
        proxy.sort(4, Qt::DescendingOrder);
        proxy.setFilterFixedString(QString());
        QCOMPARE(proxy.rowCount(), 200);
        model.setPins(pins.mid(0, 50));
        model.clear();
        QCOMPARE(proxy.rowCount(), 0);
    }
};

QTEST_MAIN(TestPinModel)
#include "tst_pinmodel.moc"
