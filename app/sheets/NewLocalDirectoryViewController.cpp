#include "app/sheets/NewLocalDirectoryViewController.h"

#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "app/Extensions/Localize.h"
#include "app/Extensions/TrimmedOfSpaces.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"

namespace quorvel {

namespace {

constexpr char kCreationError[] = "LocalFolderCreationErr";
constexpr char kAlertIcon[] = "NSInfo";

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// Makes the folder `name` in `folder`, without its parents; 0, or the errno
// of the failure. An existing entry of that name is a failure (EEXIST).
int makeFolder(const std::filesystem::path& folder, const QString& name) {
    const QByteArray encoded = QFile::encodeName(name);
    // The system reads a path up to its first NUL: the name would lose its
    // end and another folder would be made.
    if (encoded.contains('\0')) return EINVAL;
    // Appended, never joined as a path: a name that starts with "/" stays
    // inside the folder. Past those slashes the name must be one entry: a
    // "/" inside it, "." or ".." would make the folder somewhere else.
    std::string_view entry(encoded.constData(), static_cast<std::size_t>(encoded.size()));
    entry.remove_prefix(std::min(entry.find_first_not_of('/'), entry.size()));
    if (entry.find('/') != std::string_view::npos || entry == "." || entry == "..") return EINVAL;
    std::string path = folder.native();
    path += '/';
    path.append(encoded.constData(), static_cast<std::size_t>(encoded.size()));
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

}  // namespace

NewLocalDirectoryViewController::NewLocalDirectoryViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("createLocalDirectory"));
    buildView();
    viewDidLoad();
}

void NewLocalDirectoryViewController::buildView() {
    setWindowTitle(text("NewLocalFolderSheetTitle"));

    newFolderName_ = new QLineEdit(this);
    newFolderName_->setObjectName(QStringLiteral("newFolderName"));
    cancelButton_ = new QPushButton(text("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelButton_->setAutoDefault(false);
    confirmPushButton_ = new QPushButton(text("Create"), this);
    confirmPushButton_->setObjectName(QStringLiteral("confirmPushButton"));
    confirmPushButton_->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(text("NewFolderNameLabel"), newFolderName_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addWidget(confirmPushButton_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addWidget(new QLabel(text("NewLocalFolderMessage"), this));
    sheet->addLayout(form);
    sheet->addLayout(buttons);
    setMinimumWidth(380);

    connect(confirmPushButton_, &QPushButton::clicked, this, &NewLocalDirectoryViewController::confirmFolderCreation);
    connect(cancelButton_, &QPushButton::clicked, this, &NewLocalDirectoryViewController::closeFolderPopup);
}

void NewLocalDirectoryViewController::viewDidLoad() {
    confirmPushButton_->setEnabled(false);
    connect(newFolderName_, &QLineEdit::textChanged, this, &NewLocalDirectoryViewController::controlTextDidChange);
}

void NewLocalDirectoryViewController::controlTextDidChange() {
    confirmPushButton_->setEnabled(!trimmedOfSpaces(newFolderName_->text()).isEmpty());
}

void NewLocalDirectoryViewController::confirmFolderCreation() {
    if (!confirmPushButton_->isEnabled()) return;
    Appwise& appwise = Appwise::shared();
    if (const int error = makeFolder(appwise.localPath(), newFolderName_->text())) {
        Appwise::runAlert(kCreationError, std::generic_category().message(error), kAlertIcon);
        return;
    }
    appwise.notifications()->post(kRefreshLocalFilesListNotification);
    done(0);
}

void NewLocalDirectoryViewController::closeFolderPopup() { done(0); }

void NewLocalDirectoryViewController::reject() { closeFolderPopup(); }

}  // namespace quorvel
