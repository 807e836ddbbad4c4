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
#include <system_error>
#include <thread>
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

// From this many names on, their types are worked out on a thread of their
// own.
constexpr std::size_t kTypesAsideFrom = 256;

// The MIME types of names, from the names alone: no entry is opened (a FIFO
// would block, a large file would be read for nothing). The database takes
// several microseconds a name, more than reading an entry's attributes, so
// for a large folder the types are worked out on a thread of their own while
// the listing reads the attributes. The database is thread-safe, and the
// thread touches nothing but its own names and types.
class TypesOfNames {
public:
    explicit TypesOfNames(std::vector<QString> names) : names_(std::move(names)) {
        if (names_.size() < kTypesAsideFrom) return;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to be had: take() works them out in line.
        }
    }
    ~TypesOfNames() {
        if (thread_.joinable()) thread_.join();
    }
    TypesOfNames(const TypesOfNames&) = delete;
    TypesOfNames& operator=(const TypesOfNames&) = delete;

    // The types, in the order of the names.
    std::vector<QString> take() {
        if (thread_.joinable()) {
            thread_.join();
        } else {
            run();
        }
        return std::move(types_);
    }

private:
    void run() {
        const QMimeDatabase database;
        types_.reserve(names_.size());
        for (const QString& name : names_)
            types_.push_back(database.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name());
    }

    std::vector<QString> names_;
    std::vector<QString> types_;
    std::thread thread_;
};

// The icons of one listing, each looked up once.
class Icons {
public:
    QIcon folder() {
        if (folder_.isNull()) folder_ = provider_.icon(QAbstractFileIconProvider::Folder);
        return folder_;
    }
    QIcon ofType(const QString& type) {
        if (auto known = byType_.constFind(type); known != byType_.constEnd()) return *known;
        const QMimeType mimeType = database_.mimeTypeForName(type);
        QIcon icon = QIcon::fromTheme(mimeType.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(mimeType.genericIconName());
        if (icon.isNull()) icon = provider_.icon(QAbstractFileIconProvider::File);
        byType_.insert(type, icon);
        return icon;
    }

private:
    QFileIconProvider provider_;
    QMimeDatabase database_;
    QIcon folder_;
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
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(folder.get());
        if (found == nullptr) {
            if (errno != 0) systemLog("Cannot read URL " + url.string());
            break;
        }
        // Also "." and "..".
        if (found->d_name[0] != '.') names.emplace_back(found->d_name);
    }

    // Each byte that is not UTF-8 becomes U+FFFD.
    std::vector<QString> texts;
    texts.reserve(names.size());
    for (const auto& name : names) texts.push_back(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    const QHash<QString, QString> known = takeKnownTypes(url);
    std::vector<std::size_t> unknown;
    std::vector<QString> unknownTexts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (known.contains(texts[i])) continue;
        unknown.push_back(i);
        unknownTexts.push_back(texts[i]);
    }
    TypesOfNames lookup(std::move(unknownTexts));

    const int folderDescriptor = ::dirfd(folder.get());
    // Where each entry of `files` is in `names`.
    std::vector<std::size_t> nameOf;
    files.reserve(names.size());
    nameOf.reserve(names.size());
    // One string and one parse per entry's path, not two of each.
    std::string entryPath = url.native();
    if (entryPath.empty() || entryPath.back() != '/') entryPath += '/';
    const std::size_t folderLength = entryPath.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        Metadata entry;
        entryPath.resize(folderLength);
        entryPath += name;
        entry.url = entryPath;
        struct stat attributes {};
        if (::fstatat(folderDescriptor, name.c_str(), &attributes, 0) == 0) {
            entry.date = std::chrono::sys_seconds{std::chrono::seconds{attributes.st_mtim.tv_sec}};
            entry.isFolder = S_ISDIR(attributes.st_mode);
            entry.size = entry.isFolder ? 0 : static_cast<std::int64_t>(attributes.st_size);
        } else if (::fstatat(folderDescriptor, name.c_str(), &attributes, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISLNK(attributes.st_mode)) {
            // A link to nothing, to itself, or behind a folder we may not
            // enter: nothing is known of what it points to.
            entry.date = kDistantPast;
        } else {
            systemLog("Error reading file attributes: " + entry.url.string());
            continue;
        }
        entry.name = isAscii(name) ? name : texts[i].toStdString();
        files.push_back(std::move(entry));
        nameOf.push_back(i);
    }

    std::vector<QString> types(names.size());
    const std::vector<QString> lookedUp = lookup.take();
    for (std::size_t n = 0; n < unknown.size(); ++n) types[unknown[n]] = lookedUp[n];
    QHash<QString, QString> learnt;
    learnt.reserve(static_cast<qsizetype>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (types[i].isNull()) types[i] = known.value(texts[i]);
        learnt.insert(texts[i], types[i]);
    }
    keepKnownTypes(url, std::move(learnt));

    Icons icons;
    for (std::size_t f = 0; f < files.size(); ++f)
        files[f].icon = files[f].isFolder ? icons.folder() : icons.ofType(types[nameOf[f]]);
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
