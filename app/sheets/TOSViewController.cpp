#include "app/sheets/TOSViewController.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/utils/Appwise.h"
#include "app/utils/Workspace.h"

namespace quorvel {

namespace {

QString text(const char* key) { return QString::fromStdString(localize(key)); }

TOSViewController::ProgramExit& programExit() {
    static TOSViewController::ProgramExit exit;
    return exit;
}

}  // namespace

TOSViewController::ProgramExit TOSViewController::setProgramExit(ProgramExit exit) {
    return std::exchange(programExit(), std::move(exit));
}

TOSViewController::TOSViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("gcAcceptance"));
    buildView();
    viewWillAppear();
}

void TOSViewController::buildView() {
    setWindowTitle(text("TOSSheetTitle"));
    auto* message = new QLabel(text("TOSMessage"), this);
    message->setWordWrap(true);
    linkBtn_ = new QPushButton(this);
    linkBtn_->setObjectName(QStringLiteral("linkBtn"));
    // Drawn as a link: flat, underlined, in the link colour.
    linkBtn_->setFlat(true);
    linkBtn_->setCursor(Qt::PointingHandCursor);
    QFont underlined = linkBtn_->font();
    underlined.setUnderline(true);
    linkBtn_->setFont(underlined);
    QPalette linkColours = linkBtn_->palette();
    linkColours.setColor(QPalette::ButtonText, systemColor(SystemColor::blue));
    linkBtn_->setPalette(linkColours);
    auto* declineButton = new QPushButton(text("Decline"), this);
    declineButton->setObjectName(QStringLiteral("declineButton"));
    auto* acceptButton = new QPushButton(text("Accept"), this);
    acceptButton->setObjectName(QStringLiteral("acceptButton"));
    acceptButton->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(declineButton);
    buttons->addWidget(acceptButton);
    auto* sheet = new QVBoxLayout(this);
    sheet->addWidget(message);
    sheet->addWidget(linkBtn_, 0, Qt::AlignLeft);
    sheet->addLayout(buttons);
    setMinimumWidth(460);

    connect(linkBtn_, &QPushButton::clicked, this, &TOSViewController::showTOS);
    connect(acceptButton, &QPushButton::clicked, this, &TOSViewController::accept);
    connect(declineButton, &QPushButton::clicked, this, &TOSViewController::decline);
}

void TOSViewController::viewWillAppear() { linkBtn_->setText(link); }

void TOSViewController::showTOS() { Workspace::shared().open(QUrl(link)); }

void TOSViewController::accept() {
    Appwise::shared().setGcAccepted(true);
    done(0);
}

void TOSViewController::decline() {
    if (const ProgramExit& exit = programExit())
        exit(0);
    else
        QCoreApplication::exit(0);
}

// The terms are either accepted or declined: no third way out.
void TOSViewController::reject() {}

}  // namespace quorvel
