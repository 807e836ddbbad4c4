// With no Secret Service reachable, every store operation must fail with
// unhandledError saying so, promptly. GLib keeps the session bus for the life
// of a process, so each case runs the store in a fresh copy of this program
// whose DBUS_SESSION_BUS_ADDRESS leads nowhere.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "securestore/AppleSecureStore.h"
#include "securestore/GenericPasswordQueryable.h"
#include "securestore/Keychain.h"

extern char** environ;

using namespace ostrelcomm;

namespace {

constexpr const char* childFlag = "QUORVEL_SECURESTORE_UNREACHABLE_CHILD";
constexpr const char* childSuite = "SecretServiceUnreachableChild";

// The child's side: run each operation and print how it ended, one line each.
void reportOperations() {
    const AppleSecureStore store(GenericPasswordQueryable("org.quorvel.test.unreachable"));
    const std::vector<std::pair<std::string, std::function<void()>>> operations = {
        {"setValue", [&] { store.setValue("secret", "credentials"); }},
        {"getValue", [&] { (void)store.getValue("credentials"); }},
        {"removeValue", [&] { store.removeValue("credentials"); }},
        {"removeAllValues", [&] { store.removeAllValues(); }},
    };
    for (const auto& [name, operation] : operations) {
        std::string outcome = "no error";
        try {
            operation();
        } catch (const SecureStoreError& error) {
            outcome = (error.errorCase() == SecureStoreError::Case::unhandledError ? "unhandledError|" : "other|") +
                      error.errorDescription();
        }
        std::cout << "outcome|" << name << "|" << outcome << std::endl;
    }
}

class ChildRun : public ::testing::Test {
    void TestBody() override { reportOperations(); }
};

// Registered only inside the child, so a normal run never lists it.
const bool childRegistered = [] {
    if (std::getenv(childFlag) == nullptr) return false;
    ::testing::RegisterTest(childSuite, "ReportOperations", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new ChildRun; });
    return true;
}();

struct ChildResult {
    bool started = false;
    bool finished = false;
    int waitStatus = 0;
    std::string output;
};

std::string thisProgram() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// Runs this program's child case, behind `launcher` when one is given, on
// the given bus address (or the launcher's). Waits at most `limit`: a hang
// guard, the operations are expected to end long before.
ChildResult runChild(std::vector<std::string> launcher, const std::optional<std::string>& busAddress,
                     std::chrono::seconds limit) {
    ChildResult result;
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        if (text.starts_with("DBUS_SESSION_BUS_ADDRESS=") || text.starts_with("DISPLAY=") ||
            text.starts_with("WAYLAND_DISPLAY=") || text.starts_with("GTEST_")) {
            continue;
        }
        environment.emplace_back(text);
    }
    if (busAddress) environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + *busAddress);
    environment.push_back(std::string(childFlag) + "=1");
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<std::string> arguments = std::move(launcher);
    arguments.push_back(thisProgram());
    arguments.push_back(std::string("--gtest_filter=") + childSuite + ".*");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        ADD_FAILURE() << "spawn: " << std::strerror(spawned);
        return result;
    }

    result.started = true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool reading = true;
    while (reading) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{pipeFds[0], POLLIN, 0};
        int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[4096];
        ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            reading = false;
        } else {
            result.output.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(pipeFds[0]);
    if (reading) kill(pid, SIGKILL);  // hung: the test fails below
    while (waitpid(pid, &result.waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.finished = !reading;
    return result;
}

std::map<std::string, std::string> outcomesIn(const std::string& output) {
    std::map<std::string, std::string> outcomes;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.starts_with("outcome|")) continue;
        auto rest = line.substr(8);
        auto bar = rest.find('|');
        if (bar != std::string::npos) outcomes[rest.substr(0, bar)] = rest.substr(bar + 1);
    }
    return outcomes;
}

// A throw-away folder holding a socket file that exists but that nobody
// listens on, and the configuration of a session bus on which no Secret
// Service can be started.
class Scratch {
public:
    Scratch() {
        char folder[] = "/tmp/quorvel-nobus.XXXXXX";
        if (mkdtemp(folder) == nullptr) return;
        folder_ = folder;

        const std::string socketPath = folder_ + "/bus";
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) deadSocket_ = socketPath;
        if (fd >= 0) close(fd);  // bound, never listened on, now closed: connecting is refused

        // No service folders: nothing can be activated on this bus.
        const std::string configPath = folder_ + "/bus.conf";
        std::ofstream config(configPath);
        config << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" << folder_ << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
        if (config.good()) busConfig_ = configPath;
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }
    const std::string& deadSocket() const { return deadSocket_; }
    const std::string& busConfig() const { return busConfig_; }

private:
    std::string folder_;
    std::string deadSocket_;
    std::string busConfig_;
};

TEST(SecretServiceUnreachable, EveryOperationFailsWithUnhandledErrorSayingSo) {
    const auto notAvailable = keychain::SecCopyErrorMessageString(keychain::errSecNotAvailable);
    ASSERT_TRUE(notAvailable.has_value());
    EXPECT_NE(notAvailable->find("No Secret Service is reachable"), std::string::npos);

    Scratch scratch;
    ASSERT_FALSE(scratch.deadSocket().empty());
    ASSERT_FALSE(scratch.busConfig().empty());
    struct Case {
        const char* what;
        std::vector<std::string> launcher;
        std::optional<std::string> busAddress;
    };
    const Case cases[] = {
        {"no socket file", {}, "unix:path=/nonexistent/quorvel/bus"},
        {"nobody listening", {}, "unix:path=" + scratch.deadSocket()},
        {"a bus without a Secret Service",
         {"dbus-run-session", "--config-file=" + scratch.busConfig(), "--"},
         std::nullopt},
    };
    for (const auto& [what, launcher, busAddress] : cases) {
        SCOPED_TRACE(what);
        const ChildResult child = runChild(launcher, busAddress, std::chrono::seconds(120));
        ASSERT_TRUE(child.started);
        ASSERT_TRUE(child.finished) << "the store hung with no Secret Service\n" << child.output;
        EXPECT_TRUE(WIFEXITED(child.waitStatus) && WEXITSTATUS(child.waitStatus) == 0)
            << "the child failed (crash or sanitizer report)\n" << child.output;

        const auto outcomes = outcomesIn(child.output);
        for (const char* operation : {"setValue", "getValue", "removeValue", "removeAllValues"}) {
            SCOPED_TRACE(operation);
            auto found = outcomes.find(operation);
            ASSERT_NE(found, outcomes.end()) << child.output;
            EXPECT_EQ(found->second, "unhandledError|" + *notAvailable);
        }
    }
}

}  // namespace
