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
#include <numeric>
#include <string>
#include <utility>

#include "platform/SystemLog.h"
#include "tree/NameOrder.h"

namespace quorvel {

namespace {

using ostrelcomm::systemLog;

// The icons of one listing. The MIME type comes from the name alone, so no
// entry is opened (a FIFO would block, a large file would be read for
// nothing), and each type's icon is looked up once.
class IconLookup {
public:
    QIcon folder() {
        if (folder_.isNull()) folder_ = provider_.icon(QAbstractFileIconProvider::Folder);
        return folder_;
    }
    QIcon file(const QString& name) {
        const QMimeType type = mimeTypes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        auto known = byType_.constFind(type.name());
        if (known != byType_.constEnd()) return *known;
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
        if (icon.isNull()) icon = provider_.icon(QAbstractFileIconProvider::File);
        byType_.insert(type.name(), icon);
        return icon;
    }

private:
    QFileIconProvider provider_;
    QMimeDatabase mimeTypes_;
    QIcon folder_;
    QHash<QString, QIcon> byType_;
};

std::string displayName(const char* name, QString& asText) {
    const std::string bytes(name);
    asText = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return bytes;
    // Each byte that is not UTF-8 is now U+FFFD.
    return asText.toStdString();
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
    IconLookup icons;
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(folder.get());
        if (found == nullptr) {
            if (errno != 0) systemLog("Cannot read URL " + url.string());
            break;
        }
        // Also "." and "..".
        if (found->d_name[0] == '.') continue;

        Metadata entry;
        entry.url = url / found->d_name;
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
        QString name;
        entry.name = displayName(found->d_name, name);
        entry.icon = entry.isFolder ? icons.folder() : icons.file(name);
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
