#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jobs/VirtualPath.h"
#include "platform/NotificationCenter.h"

namespace ostrelcomm {
namespace {

using pathException = VirtualPath::pathException;

// Counts the announcements of one name on a center of its own.
struct Announcements {
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    int count = 0;
    Announcements() {
        center->addObserver("remotePathChanged", [this](const Notification& n) {
            EXPECT_TRUE(n.userInfo.empty());
            ++count;
        });
    }
};

template <class F>
void expectPathError(F&& f, pathException expected) {
    try {
        f();
        ADD_FAILURE() << "no error thrown, expected " << name(expected);
    } catch (const VirtualPath::PathError& e) {
        EXPECT_EQ(e.code(), expected) << e.what();
    }
}

VirtualPath::URL url(const std::string& text) {
    auto made = VirtualPath::URL::make(text);
    if (!made) throw std::runtime_error("not a URL: " + text);
    return *made;
}

VirtualPath twoLevels() {
    VirtualPath path;
    path.append("Photos", "U1");
    path.append("2024 Summer", "U2");
    return path;
}

TEST(VirtualPath, EmptyPathIsTheRoot) {
    VirtualPath path;
    EXPECT_EQ(path.pathString(), "");
    EXPECT_TRUE(path.pathComponents().empty());
    EXPECT_EQ(path.getPathElements(), std::vector<std::string>{"/"});
    EXPECT_EQ(path.actPathUUID(), "root");
    EXPECT_EQ(path.actPathName(), "Root");
    EXPECT_EQ(path.serialize(), "[]");
    EXPECT_EQ(path.getURL().string(), "/Quorvel/");
    EXPECT_EQ(path.getUUIDFromURL(path.getURL()), "root");
    EXPECT_FALSE(path.compareNode("root", 0));
    expectPathError([&] { (void)path.getUUIDFromIndex(0); }, pathException::invalidURLLevel);
    expectPathError([&] { (void)path.getIndexFromUUID("root"); }, pathException::invalidUUID);
}

TEST(VirtualPath, ComponentsTextsAndBlanksInTheURL) {
    VirtualPath path = twoLevels();
    EXPECT_EQ(path.pathComponents(), (std::vector<std::string>{"Photos", "2024 Summer"}));
    EXPECT_EQ(path.pathString(), "Photos/2024 Summer");
    EXPECT_EQ(path.getPathElements(), (std::vector<std::string>{"/", "Photos", "2024 Summer"}));
    EXPECT_EQ(path.getURL().string(), "/Quorvel/Photos/2024%20Summer");
    EXPECT_EQ(path.actPathUUID(), "U2");
    EXPECT_EQ(path.actPathName(), "2024 Summer");
    EXPECT_EQ(path.serialize(), R"([{"name":"Photos","uuid":"U1"},{"name":"2024 Summer","uuid":"U2"}])");
}

// Folder names that hold URL delimiters or escapes stay one level each: the
// URL of every prefix cuts the path back to exactly that prefix.
TEST(VirtualPath, AwkwardNamesKeepTheirLevelInTheURL) {
    const std::vector<std::string> names = {"a/b", "50% off", "a%20b", "what?", "#1", "Ü ber", "..", "x:y@z;(1)"};
    VirtualPath full;
    for (std::size_t i = 0; i < names.size(); ++i) full.append(names[i], "ID" + std::to_string(i));

    const auto components = full.getURL().pathComponents();
    ASSERT_EQ(components.size(), names.size() + 2);
    EXPECT_EQ(components[0], "/");
    EXPECT_EQ(components[1], "Quorvel");
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(components[i + 2], names[i]);
    EXPECT_NE(full.getURL().string().find("50%25%20off"), std::string::npos);
    EXPECT_NE(full.getURL().string().find("a%2520b"), std::string::npos);

    for (std::size_t level = 0; level <= names.size(); ++level) {
        SCOPED_TRACE(level);
        VirtualPath prefix;
        for (std::size_t i = 0; i < level; ++i) prefix.append(names[i], "ID" + std::to_string(i));
        VirtualPath path = full;
        path.truncatePath(prefix.getURL());
        EXPECT_EQ(path.pathComponents(), prefix.pathComponents());
        EXPECT_EQ(full.getUUIDFromURL(prefix.getURL()), level == 0 ? "root" : "ID" + std::to_string(level - 1));
    }
}

TEST(VirtualPath, URLParsingAcceptsWhatAParserAccepts) {
    for (const char* bad : {"", "/a b", "/a%2", "/a%zz", "/\xC3\x9C", "/a\tb", "1http://x/", "no-scheme"})
        EXPECT_FALSE(VirtualPath::URL::make(bad).has_value()) << bad;
    struct Case {
        const char* text;
        std::vector<std::string> components;
    };
    const std::vector<Case> cases = {
        {"/", {"/"}},
        {"/Quorvel/", {"/", "Quorvel"}},
        {"/Quorvel//a/", {"/", "Quorvel", "a"}},
        {"/Quorvel/a%2Fb?q=1#frag", {"/", "Quorvel", "a/b"}},
        {"https://example.org/Quorvel/x%20y", {"/", "Quorvel", "x y"}},
        {"https://example.org", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(url(c.text).pathComponents(), c.components) << c.text;
}

TEST(VirtualPath, TruncateByLevel) {
    struct Case {
        std::optional<long long> level;
        std::size_t remaining;
    };
    for (const Case& c : std::vector<Case>{{std::nullopt, 1}, {0, 0}, {1, 1}, {2, 2}}) {
        Announcements seen;
        VirtualPath path = twoLevels();
        path.setNotifications(seen.center, "remotePathChanged");
        path.truncatePath(c.level);
        EXPECT_EQ(path.pathComponents().size(), c.remaining);
        EXPECT_EQ(seen.count, 1);
    }
    for (long long bad : {3LL, -1LL}) {
        Announcements seen;
        VirtualPath path = twoLevels();
        path.setNotifications(seen.center, "remotePathChanged");
        expectPathError([&] { path.truncatePath(bad); }, pathException::invalidURLLevel);
        EXPECT_EQ(path.pathComponents().size(), 2u);
        EXPECT_EQ(seen.count, 0);
    }
    // Going up from the top is no error and no change.
    Announcements seen;
    VirtualPath top;
    top.setNotifications(seen.center, "remotePathChanged");
    top.truncatePath(std::nullopt);
    EXPECT_EQ(seen.count, 0);
}

TEST(VirtualPath, TruncateByURLRejectsLevelsItDoesNotHave) {
    Announcements seen;
    VirtualPath path = twoLevels();
    path.setNotifications(seen.center, "remotePathChanged");
    expectPathError([&] { path.truncatePath(url("/Quorvel/a/b/c")); }, pathException::invalidURLLevel);
    expectPathError([&] { path.truncatePath(url("/")); }, pathException::invalidURLLevel);
    expectPathError([&] { (void)path.getUUIDFromURL(url("/Quorvel/a/b/c")); }, pathException::invalidURLLevel);
    EXPECT_EQ(path.getUUIDFromURL(url("/")), "root");
    EXPECT_EQ(path.pathComponents().size(), 2u);
    EXPECT_EQ(seen.count, 0);
    path.truncatePath(path.getURL());
    EXPECT_EQ(path.pathComponents().size(), 2u);
    EXPECT_EQ(seen.count, 1);
}

TEST(VirtualPath, LookupsByIndexAndIdentifier) {
    VirtualPath path;
    path.append("A", "SAME");
    path.append("B", "SAME");
    path.append("C", "OTHER");
    EXPECT_EQ(path.getIndexFromUUID("SAME"), 0u);
    EXPECT_EQ(path.getIndexFromUUID("OTHER"), 2u);
    expectPathError([&] { (void)path.getIndexFromUUID("same"); }, pathException::invalidUUID);
    EXPECT_EQ(path.getUUIDFromIndex(1), "SAME");
    EXPECT_EQ(path.getUUIDFromIndex(2), "OTHER");
    expectPathError([&] { (void)path.getUUIDFromIndex(3); }, pathException::invalidURLLevel);
    expectPathError([&] { (void)path.getUUIDFromIndex(-1); }, pathException::invalidURLLevel);
    EXPECT_TRUE(path.compareNode("OTHER", 2));
    EXPECT_FALSE(path.compareNode("SAME", 2));
    EXPECT_FALSE(path.compareNode("OTHER", 3));
    EXPECT_FALSE(path.compareNode("SAME", -1));
}

TEST(VirtualPath, AnnouncesEveryChangeOnlyWithACenterAndAName) {
    Announcements seen;
    VirtualPath path;
    path.append("a", "1");  // no center yet
    path.setNotifications(seen.center, "");
    path.clean();
    EXPECT_EQ(seen.count, 0);
    path.setNotifications(nullptr, "remotePathChanged");
    path.append("a", "1");
    EXPECT_EQ(seen.count, 0);

    path.setNotifications(seen.center, "remotePathChanged");
    EXPECT_EQ(seen.count, 0);
    path.append("b", "2");
    path.truncatePath(2);  // unchanged, still announced
    path.clean();
    path.clean();  // already empty, still announced
    EXPECT_EQ(seen.count, 4);
}

TEST(VirtualPath, SerializeAndRebuild) {
    VirtualPath path = twoLevels();
    path.append("quote \" and \\ and \xC3\xBC", "U3");
    Announcements seen;
    path.setNotifications(seen.center, "remotePathChanged");

    VirtualPath rebuilt(path.serialize());
    EXPECT_EQ(rebuilt.pathComponents(), path.pathComponents());
    EXPECT_EQ(rebuilt.actPathUUID(), "U3");
    EXPECT_EQ(rebuilt.getUUIDFromIndex(0), "U1");
    rebuilt.append("more", "U4");
    EXPECT_EQ(seen.count, 0);
    rebuilt.setNotifications(seen.center, "remotePathChanged");
    rebuilt.clean();
    EXPECT_EQ(seen.count, 1);

    EXPECT_TRUE(VirtualPath(VirtualPath().serialize()).pathComponents().empty());
}

TEST(VirtualPath, DamagedSerializedTextGivesTheRoot) {
    const std::string deep(10000, '[');
    for (const std::string& text :
         {std::string(""), std::string("not json"), std::string("{}"), std::string("[1]"),
          std::string(R"([{"name":"a"}])"), std::string(R"([{"name":null,"uuid":"x"}])"),
          std::string(R"([{"name":"a","uuid":7}])"), std::string(R"([{"name":"a","uuid":"1"},"x"])"), deep}) {
        VirtualPath path(text);
        EXPECT_TRUE(path.pathComponents().empty()) << text.substr(0, 40);
        EXPECT_EQ(path.actPathUUID(), "root");
    }
}

}  // namespace
}  // namespace ostrelcomm
