#include "app/local/Directory.h"

#include <QFileIconProvider>
#include <QHash>
#include <QMimeDatabase>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>

#include "platform/SystemLog.h"
#include "tree/NameOrder.h"

namespace quorvel {

namespace {

using ostrelcomm::systemLog;

// The MIME types of the names of the last folder listed, by name. A name's
// type comes from the name alone, and the main view lists the same folder
// again at every change of it (while an archive unpacks into it, every tenth
// of a second), so each name's type is asked of the database once. Only the
// last folder's names are kept, which bounds what this holds.
struct KnownTypes {
    std::filesystem::path folder;
    QHash<QString, QString> byName;
};

std::mutex knownTypesMutex;
KnownTypes& lastKnownTypes() {
    static KnownTypes known;
    return known;
}

// What the last listing of `folder` learnt; nothing for another folder.
QHash<QString, QString> takeKnownTypes(const std::filesystem::path& folder) {
    std::lock_guard lock(knownTypesMutex);
    KnownTypes& known = lastKnownTypes();
    QHash<QString, QString> types;
    if (known.folder == folder) types = std::move(known.byName);
    known = KnownTypes{};
    return types;
}

void keepKnownTypes(const std::filesystem::path& folder, QHash<QString, QString> types) {
    std::lock_guard lock(knownTypesMutex);
    lastKnownTypes() = KnownTypes{folder, std::move(types)};
}

// The icons of one listing. The MIME type comes from the name alone, so no
// entry is opened (a FIFO would block, a large file would be read for
// nothing); the database takes several microseconds a name, more than
// reading the entry's attributes, so each name's type is asked once for as
// long as its folder is listed again and again (KnownTypes). Each type's icon
// is looked up once per listing.
class Icons {
public:
    explicit Icons(const std::filesystem::path& folder) : folder_(folder), known_(takeKnownTypes(folder)) {
        learnt_.reserve(known_.size());
    }
    ~Icons() { keepKnownTypes(folder_, std::move(learnt_)); }
    Icons(const Icons&) = delete;
    Icons& operator=(const Icons&) = delete;

    // How many names the folder had when it was listed last.
    std::size_t expected() const { return static_cast<std::size_t>(known_.size()); }

    QIcon folder() {
        if (folderIcon_.isNull()) folderIcon_ = provider_.icon(QAbstractFileIconProvider::Folder);
        return folderIcon_;
    }
    QIcon file(const QString& name) {
        QString type = known_.value(name);
        if (type.isNull()) type = database_.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
        learnt_.insert(name, type);
        if (auto known = byType_.constFind(type); known != byType_.constEnd()) return *known;
        const QMimeType mimeType = database_.mimeTypeForName(type);
        QIcon icon = QIcon::fromTheme(mimeType.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(mimeType.genericIconName());
        if (icon.isNull()) icon = provider_.icon(QAbstractFileIconProvider::File);
        byType_.insert(type, icon);
        return icon;
    }

private:
    std::filesystem::path folder_;
    QHash<QString, QString> known_;
    QHash<QString, QString> learnt_;
    QFileIconProvider provider_;
    QMimeDatabase database_;
    QIcon folderIcon_;
    QHash<QString, QIcon> byType_;
};

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

template <class T>
bool ordered(const T& lhs, const T& rhs, bool ascending) {
    return ascending ? lhs < rhs : rhs < lhs;
}

}  // namespace

std::optional<Directory::FileOrder> Directory::fileOrderFromRaw(std::string_view raw) {
    if (raw == "name") return FileOrder::name;
    if (raw == "date") return FileOrder::date;
    if (raw == "size") return FileOrder::size;
    return std::nullopt;
}

std::string_view Directory::rawValue(FileOrder order) {
    switch (order) {
        case FileOrder::name: return "name";
        case FileOrder::date: return "date";
        case FileOrder::size: return "size";
    }
    return "name";
}

Directory::Directory(std::filesystem::path folderURL) : url(std::move(folderURL)) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(url.c_str()), &::closedir);
    if (!folder) {
        systemLog("Cannot read URL " + url.string());
        return;
    }
    const int folderDescriptor = ::dirfd(folder.get());
    Icons icons(url);
    files.reserve(icons.expected());
    // One string and one parse per entry's path, not two of each.
    std::string entryPath = url.native();
    if (entryPath.empty() || entryPath.back() != '/') entryPath += '/';
    const std::size_t folderLength = entryPath.size();
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(folder.get());
        if (found == nullptr) {
            if (errno != 0) systemLog("Cannot read URL " + url.string());
            break;
        }
        const std::string_view name = found->d_name;
        // Also "." and "..".
        if (name.front() == '.') continue;

        Metadata entry;
        entryPath.resize(folderLength);
        entryPath += name;
        entry.url = entryPath;
        struct stat attributes {};
        if (::fstatat(folderDescriptor, found->d_name, &attributes, 0) == 0) {
            entry.date = std::chrono::sys_seconds{std::chrono::seconds{attributes.st_mtim.tv_sec}};
            entry.isFolder = S_ISDIR(attributes.st_mode);
            entry.size = entry.isFolder ? 0 : static_cast<std::int64_t>(attributes.st_size);
        } else if (::fstatat(folderDescriptor, found->d_name, &attributes, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISLNK(attributes.st_mode)) {
            // A link to nothing, to itself, or behind a folder we may not
            // enter: nothing is known of what it points to.
            entry.date = kDistantPast;
        } else {
            systemLog("Error reading file attributes: " + entry.url.string());
            continue;
        }
        // Each byte that is not UTF-8 becomes U+FFFD.
        const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        entry.name = isAscii(name) ? std::string(name) : text.toStdString();
        entry.icon = entry.isFolder ? icons.folder() : icons.file(text);
        files.push_back(std::move(entry));
    }
}

std::vector<Metadata> Directory::contentsOrderedBy(FileOrder order, bool ascending) const {
    std::vector<std::size_t> positions(files.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    const auto sortBy = [&](auto&& less) { std::stable_sort(positions.begin(), positions.end(), less); };
    switch (order) {
        case FileOrder::name: {
            // One key per entry, not one per comparison.
            std::vector<std::string> keys;
            keys.reserve(files.size());
            for (const auto& entry : files) keys.push_back(ostrelcomm::nameOrderKey(entry.name));
            sortBy([&](std::size_t a, std::size_t b) { return ordered(keys[a], keys[b], ascending); });
            break;
        }
        case FileOrder::date:
            sortBy([&](std::size_t a, std::size_t b) { return ordered(files[a].date, files[b].date, ascending); });
            break;
        case FileOrder::size:
            sortBy([&](std::size_t a, std::size_t b) { return ordered(files[a].size, files[b].size, ascending); });
            break;
    }
    std::vector<Metadata> sorted;
    sorted.reserve(files.size());
    for (std::size_t position : positions) sorted.push_back(files[position]);
    return sorted;
}

}  // namespace quorvel
