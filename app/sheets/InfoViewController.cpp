#include "app/sheets/InfoViewController.h"

#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>

#include "app/Extensions/Localize.h"
#include "platform/AppInfo.h"

namespace quorvel {

namespace {

constexpr char kNotAvailable[] = "N.A.";

QString text(const char* key) { return QString::fromStdString(localize(key)); }

QString entryOrNA(const std::string& entry) {
    return QString::fromStdString(entry.empty() ? std::string(kNotAvailable) : entry);
}

}  // namespace

InfoViewController::InfoViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutApp"));
    buildView();
    viewDidLoad();
}

std::optional<QDateTime> InfoViewController::compileDate() {
    return compileDate(QCoreApplication::applicationFilePath());
}

std::optional<QDateTime> InfoViewController::compileDate(const QString& executable) {
    if (executable.isEmpty()) return std::nullopt;
    const QByteArray path = QFile::encodeName(executable);
    struct statx attributes {};
    if (statx(AT_FDCWD, path.constData(), 0, STATX_BTIME | STATX_MTIME, &attributes) != 0) return std::nullopt;
    // Not every file system keeps a birth time.
    if ((attributes.stx_mask & STATX_BTIME) != 0 && attributes.stx_btime.tv_sec != 0)
        return QDateTime::fromSecsSinceEpoch(attributes.stx_btime.tv_sec);
    if ((attributes.stx_mask & STATX_MTIME) != 0) return QDateTime::fromSecsSinceEpoch(attributes.stx_mtime.tv_sec);
    return std::nullopt;
}

void InfoViewController::buildView() {
    setWindowTitle(text("AboutSheetTitle"));
    auto* name = new QLabel(this);
    name->setObjectName(QStringLiteral("applicationName"));
    const std::string appName = ostrelcomm::AppInfo::current().name;
    name->setText(QString::fromStdString(appName.empty() ? localize("AboutApplicationName") : appName));
    QFont heading = name->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.3);
    name->setFont(heading);
    versionLabel_ = new QLabel(this);
    versionLabel_->setObjectName(QStringLiteral("versionLabel"));
    versionLabel_->setTextFormat(Qt::PlainText);
    copyrightLabel_ = new QLabel(this);
    copyrightLabel_->setObjectName(QStringLiteral("copyrightLabel"));
    copyrightLabel_->setTextFormat(Qt::PlainText);
    copyrightLabel_->setWordWrap(true);
    internalUse_ = new QLabel(text("InternalUseNotice"), this);
    internalUse_->setObjectName(QStringLiteral("internalUse"));
    auto* doCloseButton = new QPushButton(text("Close"), this);
    doCloseButton->setObjectName(QStringLiteral("doCloseButton"));
    doCloseButton->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(doCloseButton);
    auto* sheet = new QVBoxLayout(this);
    sheet->addWidget(name);
    sheet->addWidget(versionLabel_);
    sheet->addWidget(copyrightLabel_);
    sheet->addWidget(internalUse_);
    sheet->addLayout(buttons);
    setMinimumWidth(320);

    connect(doCloseButton, &QPushButton::clicked, this, &InfoViewController::doClose);
}

void InfoViewController::viewDidLoad() {
    const ostrelcomm::AppInfo info = ostrelcomm::AppInfo::current();
    QString version = QStringLiteral("Version: ") + entryOrNA(info.shortVersion);
    if (const auto built = compileDate()) version += QStringLiteral("-") + built->toString(QStringLiteral("yyyyMMdd"));
    versionLabel_->setText(version);
    copyrightLabel_->setText(entryOrNA(info.copyright));
    internalUse_->setHidden(true);
}

void InfoViewController::doClose() { done(0); }

void InfoViewController::reject() { doClose(); }

}  // namespace quorvel
