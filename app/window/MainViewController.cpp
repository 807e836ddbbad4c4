#include "app/window/MainViewController.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QShowEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/CopyDirBridge.h"
#include "app/window/JobsTableModel.h"
#include "app/window/LocalFilesTableModel.h"
#include "app/window/PathBar.h"
#include "app/window/RemoteFilesTableModel.h"
#include "app/window/SegmentedControl.h"

namespace quorvel {

namespace {

constexpr int kRowIconSide = 16;
constexpr int kStatusImageSide = 16;

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// A table as the browser's tables are: whole rows selected, several at once,
// sorted by a click on a column's header, the name column taking the room
// left.
QTableView* makeTable(const char* identifier, QWidget* parent) {
    auto* table = new QTableView(parent);
    table->setObjectName(QString::fromLatin1(identifier));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->setIconSize(QSize(kRowIconSide, kRowIconSide));
    table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    QHeaderView* header = table->horizontalHeader();
    header->setHighlightSections(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return table;
}

// The name column takes the room left; size and date fit their texts.
void sizeFileColumns(QTableView* table) {
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Interactive);
    header->setSectionResizeMode(2, QHeaderView::Interactive);
    const QFontMetrics metrics = table->fontMetrics();
    header->resizeSection(1, metrics.horizontalAdvance(QStringLiteral("999.99 MB")) + 24);
    header->resizeSection(2, metrics.horizontalAdvance(QStringLiteral("Sep 30, 2026, 12:59 PM")) + 24);
}

PathBar* makePathView(const char* identifier, QWidget* parent) {
    auto* bar = new PathBar(parent);
    bar->setObjectName(QString::fromLatin1(identifier));
    return bar;
}

}  // namespace

MainViewController::MainViewController(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mainView"));
    Appwise& appwise = Appwise::shared();
    const auto& slow = appwise.engine(CommTasks::slowTask);
    copyDirJob_ = ostrelcomm::CopyDir::create(slow);
    copyDirBridge_ = std::make_unique<CopyDirBridge>(copyDirJob_);
    multipleLocalToRemote_ = ostrelcomm::MultipleLocalFileSend::create(slow, appwise.notifications());

    mainTabView_ = new QTabWidget(this);
    mainTabView_->setObjectName(QStringLiteral("mainTabView"));
    mainTabView_->setDocumentMode(true);
    auto* filesTab = new QWidget(mainTabView_);
    filesTab->setObjectName(QStringLiteral("filesTab"));
    layOutFilesTab(filesTab);
    auto* jobsTab = new QWidget(mainTabView_);
    jobsTab->setObjectName(QStringLiteral("jobsTab"));
    layOutJobsTab(jobsTab);
    mainTabView_->addTab(filesTab, text("FilesTabTitle"));
    mainTabView_->addTab(jobsTab, text("JobsTabTitle"));
    mainTabView_->setCornerWidget(makeStatusCluster(), Qt::TopRightCorner);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mainTabView_, 1);
    layout->addWidget(makeUploadStrip());

    localFilesModel_ = new LocalFilesTableModel(directoryItems_, this);
    localFilesTable_->setModel(localFilesModel_);
    remoteFilesModel_ = new RemoteFilesTableModel(remoteItemsTableContent_, appwise.pasteboard(), this);
    remoteFilesTable_->setModel(remoteFilesModel_);
    setUpJobsList();
    sizeFileColumns(localFilesTable_);
    sizeFileColumns(remoteFilesTable_);

    for (QTableView* table : {localFilesTable_, remoteFilesTable_, jobsTable_}) {
        followSelection(table);
        followSortHeader(table);
    }
    connect(localFilesTable_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { localTableViewDoubleClick(index.row()); });
    connect(remoteFilesTable_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { remoteTableViewDoubleClick(index.row()); });
    // The item is copied: what its click leads to redraws the bar.
    const auto clickedItem = [](const PathBar* bar, int index) -> std::optional<PathBar::Item> {
        const auto& items = bar->items();
        if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return std::nullopt;
        return items[static_cast<std::size_t>(index)];
    };
    connect(localPathView_, &PathBar::itemClicked, this, [this, clickedItem](int index) {
        const auto item = clickedItem(localPathView_, index);
        setLocalPath(item ? &*item : nullptr);
    });
    connect(remotePathView_, &PathBar::itemClicked, this, [this, clickedItem](int index) {
        const auto item = clickedItem(remotePathView_, index);
        setRemotePath(item ? &*item : nullptr);
    });
    connect(sendingFileActionButton_, &QPushButton::clicked, this, [this] { sendingFileActionButton(); });
    viewDidLoad();
}

// The tables read the rows this view keeps: they go before the rows do. The
// bridge, declared after the copier, goes before the copier: it stops
// following the copier before the copier may go.
MainViewController::~MainViewController() {
    // An observer running now on another thread reaches the view only
    // through a guarded pointer, on the main thread.
    for (const auto token : appTokens_) appCenter_->removeObserver(token);
    directoryMonitor_.reset();
    // Taking the tabs down changes the current tab: no tab is selected then.
    disconnect(mainTabView_, nullptr, this, nullptr);
    delete mainTabView_;
    delete localFilesModel_;
    delete remoteFilesModel_;
    delete jobsModel_;
}

void MainViewController::viewDidLoad() {
    appCenter_ = Appwise::shared().notifications();
    commRelatedObservers();
    appRelatedObservers();
    // The local listing is built by its observer.
    appCenter_->post(kRefreshLocalFilesListNotification);
    directoryMonitor_ = std::make_unique<DirectoryMonitor>();
    directoryMonitor_->setDelegate(this);
    directoryMonitor_->startMonitoring(Appwise::shared().localPath());
}

void MainViewController::viewDidAppear() {
    if (!Appwise::shared().gcAccepted()) appCenter_->post(kShowTOSSheetNotification);
    setSendingFileInfoHeight(0);
}

void MainViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window given back by the desktop (restored from the dock) is no new
    // appearance.
    if (!event->spontaneous()) viewDidAppear();
}

void MainViewController::layOutFilesTab(QWidget* tab) {
    auto* splitter = new QSplitter(Qt::Horizontal, tab);
    splitter->setChildrenCollapsible(false);
    const auto pane = [splitter](PathBar*& pathView, const char* pathName, QTableView*& table,
                                 const char* tableName) {
        auto* side = new QWidget(splitter);
        auto* column = new QVBoxLayout(side);
        column->setContentsMargins(6, 6, 6, 0);
        column->setSpacing(4);
        pathView = makePathView(pathName, side);
        table = makeTable(tableName, side);
        column->addWidget(pathView);
        column->addWidget(table, 1);
        splitter->addWidget(side);
    };
    pane(localPathView_, "localPathView", localFilesTable_, "localFiles");
    pane(remotePathView_, "remotePathView", remoteFilesTable_, "remoteFiles");
    splitter->setSizes({1, 1});
    // Shown once a listing has arrived; its room is kept meanwhile, so that
    // the two tables stay level.
    QSizePolicy keepRoom = remotePathView_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    remotePathView_->setSizePolicy(keepRoom);
    remotePathView_->hide();
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(splitter);
}

void MainViewController::layOutJobsTab(QWidget* tab) {
    jobsToDisplay_ = new SegmentedControl(
        {text("JobsAll"), text("JobsCompleted"), text("JobsFailed"), text("JobsAborted")}, tab);
    jobsToDisplay_->setObjectName(QStringLiteral("jobsToDisplay"));
    jobsToDisplay_->setSelectedSegment(0);
    viewTypeBtn_ = new QPushButton(text("JobsDetailedView"), tab);
    viewTypeBtn_->setObjectName(QStringLiteral("viewTypeBtn"));
    viewTypeBtn_->setCheckable(true);
    viewTypeBtn_->setVisible(Appwise::shared().setup().showFullLog);
    cleanupButton_ = new QPushButton(text("JobsCleanup"), tab);
    cleanupButton_->setObjectName(QStringLiteral("cleanupJobs"));
    jobsTable_ = makeTable("jobsTable", tab);

    auto* controls = new QHBoxLayout;
    controls->addWidget(jobsToDisplay_);
    controls->addStretch();
    controls->addWidget(viewTypeBtn_);
    controls->addWidget(cleanupButton_);
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(controls);
    layout->addWidget(jobsTable_, 1);
}

// The activity beside the tabs: the status image, or the spinner while jobs
// run, and the badge counting transfers or failures.
QWidget* MainViewController::makeStatusCluster() {
    auto* cluster = new QWidget(mainTabView_);
    auto* row = new QHBoxLayout(cluster);
    row->setContentsMargins(6, 2, 8, 2);
    row->setSpacing(6);
    commStatusIndicator_ = new QLabel(cluster);
    commStatusIndicator_->setObjectName(QStringLiteral("commStatusIndicator"));
    commStatusIndicator_->setFixedSize(kStatusImageSide, kStatusImageSide);
    commStatusIndicator_->setScaledContents(true);
    progressSpinner_ = new QProgressBar(cluster);
    progressSpinner_->setObjectName(QStringLiteral("progressSpinner"));
    progressSpinner_->setRange(0, 100);
    progressSpinner_->setValue(0);
    progressSpinner_->setTextVisible(false);
    progressSpinner_->setFixedSize(64, kStatusImageSide - 4);
    progressSpinner_->hide();
    jobsNumber_ = new QLabel(QStringLiteral("..."), cluster);
    jobsNumber_->setObjectName(QStringLiteral("jobsNumber"));
    jobsNumber_->setAlignment(Qt::AlignCenter);
    jobsNumber_->setMinimumWidth(kStatusImageSide + 4);
    jobsNumber_->hide();
    row->addWidget(commStatusIndicator_);
    row->addWidget(progressSpinner_);
    row->addWidget(jobsNumber_);
    return cluster;
}

// Under the tables: what the running upload does, with its bar and the
// button that stops it or closes the strip.
QWidget* MainViewController::makeUploadStrip() {
    sendingFileInfo_ = new QWidget(this);
    sendingFileInfo_->setObjectName(QStringLiteral("sendingFileInfo"));
    sendingFilesProgress_ = new QLabel(sendingFileInfo_);
    sendingFilesProgress_->setObjectName(QStringLiteral("sendingFilesProgress"));
    sendingFileRemainingTime_ = new QLabel(sendingFileInfo_);
    sendingFileRemainingTime_->setObjectName(QStringLiteral("sendingFileRemainingTime"));
    sendingFileProgressBar_ = new QProgressBar(sendingFileInfo_);
    sendingFileProgressBar_->setObjectName(QStringLiteral("sendingFileProgressBar"));
    sendingFileProgressBar_->setTextVisible(false);
    sendingFileActionButton_ = new QPushButton(text("Cancel"), sendingFileInfo_);
    sendingFileActionButton_->setObjectName(QStringLiteral("sendingFileActionButton"));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(sendingFilesProgress_);
    texts->addWidget(sendingFileProgressBar_);
    texts->addWidget(sendingFileRemainingTime_);
    auto* row = new QHBoxLayout(sendingFileInfo_);
    row->setContentsMargins(12, 8, 12, 8);
    row->addLayout(texts, 1);
    row->addWidget(sendingFileActionButton_, 0, Qt::AlignVCenter);
    setSendingFileInfoHeight(0);
    return sendingFileInfo_;
}

void MainViewController::setSendingFileInfoHeight(int height) {
    sendingFileInfo_->setFixedHeight(height);
    // A strip of no height shows none of its children either.
    sendingFileInfo_->setVisible(height > 0);
}

}  // namespace quorvel
