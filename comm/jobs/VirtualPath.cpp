#include "jobs/VirtualPath.h"

#include "json/StrictJson.h"

namespace ostrelcomm {

namespace {

constexpr char kURLRoot[] = "/Quorvel/";
constexpr char kRootUUID[] = "root";
constexpr char kRootName[] = "Root";

bool isAlpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A character that may stand for itself inside one path segment: unreserved,
// sub-delimiters, ":" and "@".
bool isSegmentChar(unsigned char c) {
    if (isAlpha(c) || isDigit(c)) return true;
    switch (c) {
        case '-': case '.': case '_': case '~':
        case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
        case ':': case '@':
            return true;
        default:
            return false;
    }
}

// Any character a URL may carry literally, delimiters included.
bool isURLChar(unsigned char c) { return isSegmentChar(c) || c == '/' || c == '?' || c == '#' || c == '%'; }

// Keeps a folder name in one segment: "/", "?", "#" and "%" would cut or
// reinterpret it, and a blank, a control or non-ASCII byte would make the
// URL invalid.
std::string encodeSegment(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (isSegmentChar(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

// make() has checked that every "%" starts a valid escape.
std::string decodeSegment(std::string_view segment) {
    std::string out;
    out.reserve(segment.size());
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size()) {
            out += static_cast<char>(hexValue(segment[i + 1]) * 16 + hexValue(segment[i + 2]));
            i += 2;
        } else {
            out += segment[i];
        }
    }
    return out;
}

// The path part of a URL text: after the scheme and authority, before the
// query and fragment.
std::string_view pathPart(std::string_view text) {
    std::size_t start = 0;
    if (!text.empty() && text[0] != '/') {
        const std::size_t colon = text.find(':');
        start = colon + 1;
        if (text.substr(start, 2) == "//") {
            start = text.find_first_of("/?#", start + 2);
            if (start == std::string_view::npos) return {};
        }
    }
    const std::size_t end = text.find_first_of("?#", start);
    return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

}  // namespace

std::string_view name(VirtualPath::pathException code) {
    switch (code) {
        case VirtualPath::pathException::unableToBuildURL:
            return "unableToBuildURL";
        case VirtualPath::pathException::invalidURLLevel:
            return "invalidURLLevel";
        case VirtualPath::pathException::invalidUUID:
            return "invalidUUID";
    }
    return {};
}

const char* VirtualPath::PathError::what() const noexcept { return name(code_).data(); }

// --- URL ---------------------------------------------------------------------

std::optional<VirtualPath::URL> VirtualPath::URL::make(std::string text) {
    if (text.empty()) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!isURLChar(c)) return std::nullopt;
        if (c == '%' && (i + 2 >= text.size() || hexValue(static_cast<unsigned char>(text[i + 1])) < 0 ||
                         hexValue(static_cast<unsigned char>(text[i + 2])) < 0))
            return std::nullopt;
    }
    if (text[0] != '/') {
        // An absolute URL: a scheme of a letter followed by letters, digits,
        // "+", "-" or ".", then ":".
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos || colon == 0 || !isAlpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
        for (std::size_t i = 1; i < colon; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
        }
    }
    return URL(std::move(text));
}

std::vector<std::string> VirtualPath::URL::pathComponents() const {
    const std::string_view path = pathPart(text_);
    std::vector<std::string> components;
    if (path.empty()) return components;
    std::size_t pos = 0;
    if (path[0] == '/') {
        components.emplace_back("/");
        pos = 1;
    }
    // Segments are separated by "/"; empty ones (doubled or trailing
    // slashes) are not components.
    while (pos < path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string_view::npos) next = path.size();
        if (next > pos) components.push_back(decodeSegment(path.substr(pos, next - pos)));
        pos = next + 1;
    }
    return components;
}

// --- VirtualPath ---------------------------------------------------------------

VirtualPath::VirtualPath(const std::string& serializedPath) {
    try {
        const json::Json array = json::parse(std::string_view(serializedPath));
        std::vector<VPathComponent> components;
        for (const auto& element : json::asArray(array, "path")) {
            json::asObject(element, "path component");
            components.push_back({json::requireString(element, "name"), json::requireString(element, "uuid")});
        }
        vPath_ = std::move(components);
    } catch (const std::exception&) {
        // A damaged text leaves the path at the top of the tree.
        vPath_.clear();
    }
}

std::vector<std::string> VirtualPath::pathComponents() const {
    std::vector<std::string> names;
    names.reserve(vPath_.size());
    for (const auto& component : vPath_) names.push_back(component.name);
    return names;
}

std::string VirtualPath::pathString() const {
    std::string text;
    for (std::size_t i = 0; i < vPath_.size(); ++i) {
        if (i > 0) text += '/';
        text += vPath_[i].name;
    }
    return text;
}

void VirtualPath::setNotifications(std::shared_ptr<NotificationCenter> notifications, std::string notificationName) {
    notificationCenter_ = std::move(notifications);
    notificationName_ = std::move(notificationName);
}

std::string VirtualPath::serialize() const {
    json::OrderedJson array = json::OrderedJson::array();
    for (const auto& component : vPath_) {
        json::OrderedJson object = json::OrderedJson::object();
        object["name"] = component.name;
        object["uuid"] = component.uuid;
        array.push_back(std::move(object));
    }
    // Names come from the server; a byte sequence that is not UTF-8 must not
    // make the path unsavable.
    return array.dump(-1, ' ', false, json::OrderedJson::error_handler_t::replace);
}

void VirtualPath::append(std::string name, std::string uuid) {
    vPath_.push_back({std::move(name), std::move(uuid)});
    announce();
}

void VirtualPath::clean() {
    vPath_.clear();
    announce();
}

VirtualPath::URL VirtualPath::getURL() const {
    std::string text = kURLRoot;
    for (std::size_t i = 0; i < vPath_.size(); ++i) {
        if (i > 0) text += '/';
        text += encodeSegment(vPath_[i].name);
    }
    auto url = URL::make(std::move(text));
    if (!url) throw PathError(pathException::unableToBuildURL);
    return *url;
}

std::vector<std::string> VirtualPath::getPathElements() const {
    std::vector<std::string> elements{"/"};
    for (const auto& component : vPath_) elements.push_back(component.name);
    return elements;
}

std::size_t VirtualPath::urlLevel(const URL& url) {
    const std::size_t count = url.pathComponents().size();
    if (count < 2) throw PathError(pathException::invalidURLLevel);
    return count - 2;
}

std::string VirtualPath::getUUIDFromURL(const URL& url) const {
    if (url.pathComponents().size() < 2) return kRootUUID;
    const std::size_t level = urlLevel(url);
    if (level == 0) return kRootUUID;
    if (level > vPath_.size()) throw PathError(pathException::invalidURLLevel);
    return vPath_[level - 1].uuid;
}

std::string VirtualPath::getUUIDFromIndex(long long index) const {
    if (index < 0 || static_cast<unsigned long long>(index) >= vPath_.size())
        throw PathError(pathException::invalidURLLevel);
    return vPath_[static_cast<std::size_t>(index)].uuid;
}

std::size_t VirtualPath::getIndexFromUUID(std::string_view uuid) const {
    for (std::size_t i = 0; i < vPath_.size(); ++i)
        if (vPath_[i].uuid == uuid) return i;
    throw PathError(pathException::invalidUUID);
}

std::string VirtualPath::actPathUUID() const { return vPath_.empty() ? kRootUUID : vPath_.back().uuid; }

std::string VirtualPath::actPathName() const { return vPath_.empty() ? kRootName : vPath_.back().name; }

void VirtualPath::truncatePath(std::optional<long long> level) {
    if (!level) {
        if (vPath_.empty()) return;
        vPath_.pop_back();
        announce();
        return;
    }
    if (*level < 0 || static_cast<unsigned long long>(*level) > vPath_.size())
        throw PathError(pathException::invalidURLLevel);
    vPath_.resize(static_cast<std::size_t>(*level));
    announce();
}

void VirtualPath::truncatePath(const URL& url) {
    const std::size_t level = urlLevel(url);
    if (level > vPath_.size()) throw PathError(pathException::invalidURLLevel);
    vPath_.resize(level);
    announce();
}

bool VirtualPath::compareNode(std::string_view uuid, long long nodeDepth) const {
    if (nodeDepth < 0 || static_cast<unsigned long long>(nodeDepth) >= vPath_.size()) return false;
    return vPath_[static_cast<std::size_t>(nodeDepth)].uuid == uuid;
}

void VirtualPath::announce() const {
    if (notificationCenter_ && !notificationName_.empty()) notificationCenter_->post(notificationName_);
}

}  // namespace ostrelcomm
