#pragma once

#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NotificationCenter.h"

namespace ostrelcomm {

// The folder the user has open in the remote tree: its chain of folders from
// the top of the user's tree down, each by display name and item identifier.
// The top itself ("root") has no component. Every change is announced on the
// center given to setNotifications(), when there is one and a name is set.
//
// Used from one thread (the application's); it takes no lock.
class VirtualPath {
public:
    struct VPathComponent {
        std::string name;
        std::string uuid;
        friend bool operator==(const VPathComponent&, const VPathComponent&) = default;
    };

    enum class pathException { unableToBuildURL, invalidURLLevel, invalidUUID };

    // Thrown by the operations that can fail; carries the case only.
    class PathError : public std::exception {
    public:
        explicit PathError(pathException code) : code_(code) {}
        pathException code() const { return code_; }
        const char* what() const noexcept override;

    private:
        pathException code_;
    };

    // A path as a URL reference without scheme or host, e.g.
    // "/Quorvel/Holiday%20Photos/2024". Built only through make(), which
    // accepts what a URL parser accepts; pathComponents() splits it the way
    // the platform does ("/" first, then every segment, percent-decoded).
    class URL {
    public:
        // The text when it is a valid URL (absolute, or a reference starting
        // with "/"): no blank, control or non-ASCII character, and every "%"
        // followed by two hexadecimal digits. None otherwise.
        static std::optional<URL> make(std::string text);
        const std::string& string() const { return text_; }
        std::vector<std::string> pathComponents() const;
        friend bool operator==(const URL&, const URL&) = default;

    private:
        explicit URL(std::string text) : text_(std::move(text)) {}
        std::string text_;
    };

    VirtualPath() = default;
    // Rebuilds a path from serialize()'s text, without announcing. A text
    // that is not a JSON array of {"name", "uuid"} objects gives an empty path.
    explicit VirtualPath(const std::string& serializedPath);

    // The names, top level first.
    std::vector<std::string> pathComponents() const;
    // The names joined by "/"; "" for the top.
    std::string pathString() const;

    // An absent center or an empty name switches announcements off.
    void setNotifications(std::shared_ptr<NotificationCenter> notifications, std::string notificationName);

    // Compact JSON array of {"name", "uuid"}; "[]" for the top.
    std::string serialize() const;

    void append(std::string name, std::string uuid);
    void clean();

    // "/Quorvel/" followed by the names joined by "/", each name
    // percent-encoded so that it stays one segment (a blank is "%20").
    URL getURL() const;
    // "/" followed by every name.
    std::vector<std::string> getPathElements() const;

    // The identifier of the folder a URL of getURL() names; "root" for the top.
    std::string getUUIDFromURL(const URL& url) const;
    std::string getUUIDFromIndex(long long index) const;
    // The index of the first component with this identifier.
    std::size_t getIndexFromUUID(std::string_view uuid) const;

    // The open folder's identifier and name: "root" and "Root" at the top.
    std::string actPathUUID() const;
    std::string actPathName() const;

    // No level: one level up (nothing at the top). A level: keep that many
    // components. Throws invalidURLLevel for a level deeper than the path or
    // negative, leaving the path as it was.
    void truncatePath(std::optional<long long> level);
    // Cuts the path back to the level of a URL made by getURL() (of this path
    // or of one of its prefixes).
    void truncatePath(const URL& url);

    // True when the component at nodeDepth exists and has this identifier.
    bool compareNode(std::string_view uuid, long long nodeDepth) const;

private:
    void announce() const;
    // The levels a URL names below "/Quorvel"; throws invalidURLLevel when it
    // has no such root.
    static std::size_t urlLevel(const URL& url);

    std::shared_ptr<NotificationCenter> notificationCenter_;
    std::string notificationName_;
    std::vector<VPathComponent> vPath_;
};

std::string_view name(VirtualPath::pathException code);

}  // namespace ostrelcomm
