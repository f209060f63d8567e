#include "mainwindow.h"

#include "connectionstatusdot.h"
#include "elidedlabel.h"
#include "pinmodel.h"
#include "splitactionbutton.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kProductSiteUrl = QStringLiteral(VAXEL_UPDATE_BASE_URL);

// A label's context menu with one entry that copies the label's current text.
void addCopyMenu(QLabel* label, const QString& actionText)
{
    label->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        label, &QLabel::customContextMenuRequested, label, [label, actionText](const QPoint& pos) {
            QMenu menu(label);
            QAction* copy = menu.addAction(actionText);
            QObject::connect(copy, &QAction::triggered, label,
                [label] { QGuiApplication::clipboard()->setText(label->text()); });
            menu.exec(label->mapToGlobal(pos));
        });
}

// Two chevrons in the given colour, for the tool bar's overflow button.
QIcon overflowIcon(const QColor& colour)
{
    QIcon icon;
    for (const int side : { 16, 32 }) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = side / 16.0;
        painter.setPen(QPen(colour, 1.6 * unit, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const qreal left : { 3.5, 8.5 }) {
            const QPointF points[] { QPointF(left, 4) * unit, QPointF(left + 4, 8) * unit,
                QPointF(left, 12) * unit };
            painter.drawPolyline(points, 3);
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

void MainWindow::setupMenuBar()
{
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    addToIpfsAction = fileMenu->addAction(QStringLiteral("Add to &IPFS\u2026"));
    connect(addToIpfsAction, &QAction::triggered, this, &MainWindow::onAddToIpfsClicked);
    fileMenu->addSeparator();
    QAction* settingsAction = fileMenu->addAction(QStringLiteral("&Settings..."));
    settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settingsAction, &QAction::triggered, this, &MainWindow::onSettingsClicked);
    QAction* remoteServicesAction = fileMenu->addAction(QStringLiteral("Remote &Services..."));
    connect(remoteServicesAction, &QAction::triggered, this, &MainWindow::onRemoteServicesClicked);
    fileMenu->addSeparator();
    QAction* quitAction = fileMenu->addAction(QStringLiteral("&Quit"));
    quitAction->setShortcut(QKeySequence::Quit);
    connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);

    QMenu* editMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    QAction* copyAction = editMenu->addAction(QStringLiteral("&Copy CID"));
    copyAction->setShortcut(QKeySequence::Copy);
    connect(copyAction, &QAction::triggered, this, &MainWindow::onCopySelectedCID);
    QAction* gatewayAction = editMenu->addAction(QStringLiteral("Open from &gateway"));
    gatewayAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(gatewayAction, &QAction::triggered, this, &MainWindow::onOpenInGateway);
    QAction* localAction = editMenu->addAction(QStringLiteral("Open from &local"));
    localAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(localAction, &QAction::triggered, this, &MainWindow::onOpenFromLocal);
    openViaIpnsAction = editMenu->addAction(QStringLiteral("Open via I&PNS..."));
    connect(openViaIpnsAction, &QAction::triggered, this, &MainWindow::onOpenViaIpnsClicked);
    publishToIpnsAction = editMenu->addAction(QStringLiteral("Publish to &IPNS..."));
    publishToIpnsAction->setEnabled(false);
    connect(publishToIpnsAction, &QAction::triggered, this, &MainWindow::onPublishToIpnsClicked);
    resolveIpnsAction = editMenu->addAction(QStringLiteral("&Resolve IPNS..."));
    connect(resolveIpnsAction, &QAction::triggered, this, &MainWindow::onResolveIpnsClicked);
    editMenu->addSeparator();
    unpinSelectedAction = editMenu->addAction(QStringLiteral("Unpin selected"));
    unpinSelectedAction->setEnabled(false);
    connect(unpinSelectedAction, &QAction::triggered, this, &MainWindow::onUnpinSelected);
    unpinAllAction = editMenu->addAction(QStringLiteral("Unpin all listed CIDs"));
    unpinAllAction->setEnabled(false);
    connect(unpinAllAction, &QAction::triggered, this, &MainWindow::onUnpinAll);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* aboutAction = helpMenu->addAction(QStringLiteral("About Vaxel"));
    connect(aboutAction, &QAction::triggered, this, &MainWindow::showAboutBox);
    QAction* aboutQtAction = helpMenu->addAction(QStringLiteral("About Qt"));
    connect(aboutQtAction, &QAction::triggered, qApp, &QApplication::aboutQt);
}

void MainWindow::setupToolBar()
{
    QToolBar* toolBar = addToolBar(QStringLiteral("Main"));
    toolBar->setObjectName(QStringLiteral("mainToolBar"));
    toolBar->setMovable(false);
    toolBar->setIconSize(QSize(20, 20));

    refreshBtn = new QPushButton(QStringLiteral("\u27F3  Refresh"), toolBar);
    refreshBtn->setObjectName(QStringLiteral("refreshBtn"));
    refreshBtn->setToolTip(QString());
    connect(refreshBtn, &QPushButton::clicked, this, &MainWindow::onRefreshClicked);
    toolBar->addWidget(refreshBtn);

    addBtn = new QPushButton(QStringLiteral("+  Add to IPFS"), toolBar);
    addBtn->setObjectName(QStringLiteral("actionBtn"));
    connect(addBtn, &QPushButton::clicked, this, &MainWindow::onAddToIpfsClicked);
    toolBar->addWidget(addBtn);
    toolBar->addSeparator();

    toolBar->addWidget(new QLabel(QStringLiteral("  Content: "), toolBar));
    contentCombo = new QComboBox(toolBar);
    contentCombo->addItem(QStringLiteral("Pinned"), QStringLiteral("pinned"));
    contentCombo->addItem(QStringLiteral("Not pinned"), QStringLiteral("unpinned"));
    contentCombo->setToolTip(QString());
    connect(contentCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onContentComboChanged);
    toolBar->addWidget(contentCombo);
    toolBar->addSeparator();

    toolBar->addWidget(new QLabel(QStringLiteral("  Filter: "), toolBar));
    typeFilterCombo = new QComboBox(toolBar);
    typeFilterCombo->addItem(QStringLiteral("Recursive+Direct"), QStringLiteral("recursive+direct"));
    typeFilterCombo->addItem(QStringLiteral("All types"), QStringLiteral("all"));
    typeFilterCombo->addItem(QStringLiteral("Recursive"), QStringLiteral("recursive"));
    typeFilterCombo->addItem(QStringLiteral("Direct"), QStringLiteral("direct"));
    typeFilterCombo->addItem(QStringLiteral("Indirect"), QStringLiteral("indirect"));
    typeFilterCombo->setCurrentIndex(0);
    typeFilterCombo->setToolTip(QString());
    connect(typeFilterCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onTypeFilterComboChanged);
    toolBar->addWidget(typeFilterCombo);
    toolBar->addSeparator();

    toolBar->addWidget(new QLabel(QStringLiteral("  Search: "), toolBar));
    searchEdit = new QLineEdit(toolBar);
    searchEdit->setPlaceholderText(QStringLiteral("Filter by CID\u2026"));
    searchEdit->setMinimumWidth(240);
    searchEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    searchEdit->setClearButtonEnabled(true);
    connect(searchEdit, &QLineEdit::textChanged, this, &MainWindow::onSearchTextChanged);
    toolBar->addWidget(searchEdit);

    // Same parent, so the two are mutually exclusive.
    searchByCidRadio = new QRadioButton(QStringLiteral("CID"), toolBar);
    searchByNameRadio = new QRadioButton(QStringLiteral("Name"), toolBar);
    searchByCidRadio->setChecked(true);
    connect(searchByCidRadio, &QRadioButton::toggled, this, &MainWindow::onSearchByCidToggled);
    connect(searchByNameRadio, &QRadioButton::toggled, this, &MainWindow::onSearchByNameToggled);
    toolBar->addWidget(searchByCidRadio);
    toolBar->addWidget(searchByNameRadio);
    toolBar->addSeparator();

    setupAuxWindowButtons(toolBar);

    // In a narrow window the window buttons move behind the tool bar's overflow button, whose
    // stock chevron is dark grey: on the dark palette it could not be seen.
    if (auto* overflow = toolBar->findChild<QToolButton*>(
            QStringLiteral("qt_toolbar_ext_button"), Qt::FindDirectChildrenOnly))
        overflow->setIcon(overflowIcon(overflow->palette().color(QPalette::ButtonText)));
}

void MainWindow::setupAuxWindowButtons(QToolBar* toolBar)
{
    struct WindowButton {
        QString text;
        void (MainWindow::*show)(AuxWindowMode);
    };
    const QList<WindowButton> buttons {
        { QStringLiteral("Repo stats"), &MainWindow::showGcDialog },
        { QStringLiteral("DHT stats"), &MainWindow::showDhtStatsDialog },
        { QStringLiteral("Network"), &MainWindow::showNetworkDialog },
        { QStringLiteral("Swarm"), &MainWindow::showSwarmDialog },
        { QStringLiteral("Kubo config"), &MainWindow::showConfigDialog },
        { QStringLiteral("Status log"), &MainWindow::showStatusLogDialog },
        { QStringLiteral("RPC log"), &MainWindow::showRpcLogDialog },
    };
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const auto show = buttons.at(i).show;
        auto* button = new SplitActionButton(buttons.at(i).text, toolBar);
        button->setPrimaryToolTip(QStringLiteral("Open as child window"));
        button->setSecondaryToolTip(QStringLiteral("Open in new window"));
        connect(
            button, &SplitActionButton::primaryClicked, this, [this, show] { (this->*show)(ChildWindow); });
        connect(button, &SplitActionButton::secondaryClicked, this,
            [this, show] { (this->*show)(SeparateWindow); });
        toolBar->addWidget(button);
        if (i + 1 < buttons.size()) {
            auto* spacer = new QWidget(toolBar);
            spacer->setFixedWidth(6);
            toolBar->addWidget(spacer);
        }
    }
}

void MainWindow::setupCentralWidget()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 4);
    layout->setSpacing(6);

    // One line whatever the text: a long error is cut with its whole text in the tool tip.
    notificationLabel = new ElidedLabel(QString(), central);
    notificationLabel->setObjectName(QStringLiteral("notification"));
    notificationLabel->setAlignment(Qt::AlignCenter);
    notificationLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notificationLabel->setCursor(Qt::IBeamCursor);
    addCopyMenu(notificationLabel, QStringLiteral("Copy"));
    notificationLabel->hide();
    layout->addWidget(notificationLabel);

    tableView = new QTableView(central);
    tableView->setModel(proxy);
    tableView->installEventFilter(this);
    tableView->viewport()->installEventFilter(this);
    tableView->setSortingEnabled(true);
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tableView->setAlternatingRowColors(true);
    tableView->setShowGrid(false);
    tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView* rows = tableView->verticalHeader();
    rows->hide();
    rows->setDefaultSectionSize(24);
    // Uniform rows: the view never asks a million rows for their height.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* columns = tableView->horizontalHeader();
    columns->setStretchLastSection(true);
    columns->setDefaultAlignment(Qt::AlignLeft);
    for (const int column :
        { PinModel::CidColumn, PinModel::RefsColumn, PinModel::TypeColumn, PinModel::DagSizeColumn })
        columns->setSectionResizeMode(column, QHeaderView::Interactive);
    columns->setSectionResizeMode(PinModel::NameColumn, QHeaderView::Stretch);
    tableView->sortByColumn(PinModel::RefsColumn, Qt::AscendingOrder);
    // These widths are a floor: above 1200 rows the columns are never fitted to their contents,
    // and a header text cut short ("Total DAG s") or every CID elided would stay so. A column is
    // at least as wide as its header with the sort arrow, the CID column as a CIDv1 in its font.
    const auto initialWidth = [columns](int column, int width) {
        columns->resizeSection(column, qMax(width, columns->sectionSizeHint(column)));
    };
    initialWidth(PinModel::CidColumn, minimumCidColumnWidth());
    initialWidth(PinModel::RefsColumn, 52);
    initialWidth(PinModel::TypeColumn, 88);
    initialWidth(PinModel::DagSizeColumn, 100);
    connect(
        tableView, &QTableView::customContextMenuRequested, this, &MainWindow::onTableContextMenuRequested);
    connect(tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &MainWindow::onSelectionChanged);
    connect(tableView, &QTableView::doubleClicked, this, &MainWindow::onTableDoubleClicked);
    layout->addWidget(tableView, 1);

    auto* statsFrame = new QFrame(central);
    statsFrame->setObjectName(QStringLiteral("statsFrame"));
    auto* statsLayout = new QVBoxLayout(statsFrame);
    statsLayout->setContentsMargins(4, 2, 4, 2);
    statsLayout->setSpacing(4);

    auto* identityRow = new QHBoxLayout;
    identityRow->setContentsMargins(0, 0, 0, 0);
    statusDot = new ConnectionStatusDot(statsFrame);
    statusDot->setObjectName(QStringLiteral("statusIcon"));
    setConnectionDotState(ConnectionStatusDot::Unknown, QStringLiteral("Waiting for first connection check"));
    identityRow->addWidget(statusDot);
    peerIdLabel = new ElidedLabel(QStringLiteral("Not connected"), statsFrame);
    peerIdLabel->setObjectName(QStringLiteral("peerIdLabel"));
    peerIdLabel->installEventFilter(this);
    identityRow->addWidget(peerIdLabel, 1);
    identityRow->addStretch();
    statsLayout->addLayout(identityRow);

    auto* statsTextColumn = new QWidget(statsFrame);
    statsTextColumn->setObjectName(QStringLiteral("statsTextColumn"));
    statsTextColumn->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* textLayout = new QVBoxLayout(statsTextColumn);
    textLayout->setContentsMargins(0, 0, 0, 0);
    textLayout->setSpacing(0);
    statsLine1 = new QLabel(statsTextColumn);
    statsLine1->setObjectName(QStringLiteral("statsLine1"));
    countLabel = new QLabel(QStringLiteral("No pins loaded"), statsTextColumn);
    countLabel->setObjectName(QStringLiteral("countLabel"));
    for (QLabel* label : { statsLine1, countLabel }) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        textLayout->addWidget(label);
    }
    statsLine1->hide();
    statsLayout->addWidget(statsTextColumn);
    layout->addWidget(statsFrame);

    setCentralWidget(central);
}

void MainWindow::setupStatusBar()
{
    statusLabel = new ElidedLabel(QString(), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLabel->setCursor(Qt::IBeamCursor);
    statusLabel->setMinimumWidth(200);
    addCopyMenu(statusLabel, QStringLiteral("Copy status"));
    statusBar()->addWidget(statusLabel, 1);
    setStatusMessage(QStringLiteral("Ready"));
}

void MainWindow::showAboutBox()
{
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("About Vaxel"));
    box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    const QString site = kProductSiteUrl.toHtmlEscaped();
    box.setText(
        QStringLiteral("<h3>Vaxel %1</h3><p>A Qt-based desktop application for viewing locally pinned CIDs "
                       "from a running <b>Kubo</b> IPFS node via its RPC API.</p>"
                       "<p>Supports Linux, macOS and Windows.</p>")
            .arg(QCoreApplication::applicationVersion().toHtmlEscaped())
        + QStringLiteral("<p><a href=\"%1\">%1</a></p>").arg(site));
    box.setStandardButtons(QMessageBox::Close);
    box.setDefaultButton(QMessageBox::Close);
    box.setEscapeButton(QMessageBox::Close);
    QPushButton* checkButton = box.addButton(QStringLiteral("Check for update"), QMessageBox::ActionRole);
    const QList<QLabel*> labels = box.findChildren<QLabel*>();
    for (QLabel* label : labels)
        label->setOpenExternalLinks(true);
    box.exec();
    if (box.clickedButton() == checkButton)
        checkForUpdates();
}
