#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

extern char** environ;

namespace {

// Stops the spawned server however the test ends, so that a failed assertion
// never leaves it running after the test program has gone.
class ChildGuard {
public:
    explicit ChildGuard(pid_t pid) : pid_(pid) {}
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    ~ChildGuard() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    // Stops it with `signal` and returns its wait status, or -1.
    int stop(int signal) {
        int status = -1;
        ::kill(pid_, signal);
        if (::waitpid(pid_, &status, 0) != pid_) status = -1;
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_;
};

std::string runCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 512> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
        pclose(pipe);
    }
    return output;
}

// The executable the run command starts: it writes its CA where told, prints
// its URL, answers a plain `curl --cacert` over TLS, and stops cleanly on SIGTERM.
TEST(DevServerExecutable, AnswersCurlWithItsOwnCaAndStopsOnSigterm) {
    const std::string program = std::string(QUORVEL_BINARY_DIR) + "/devserver/quorvel-devserver";
    ASSERT_EQ(::access(program.c_str(), X_OK), 0) << program;
    char directory[] = "/tmp/quorvel-devserver-exe-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string caFile = std::string(directory) + "/ca.pem";

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {program, "--port", "0", "--ca-out", caFile};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ChildGuard server(pid);
    ::close(out[1]);

    // The first line names the URL; reading it also waits until the server listens.
    FILE* stream = fdopen(out[0], "r");
    std::array<char, 512> line{};
    std::string first = fgets(line.data(), line.size(), stream) ? line.data() : "";
    const auto at = first.find("https://");
    ASSERT_NE(at, std::string::npos) << first;
    std::string url = first.substr(at);
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r')) url.pop_back();
    EXPECT_EQ(url.substr(0, 18), "https://127.0.0.1:");
    EXPECT_EQ(url.substr(url.size() - 3), "/v1");

    const std::string answer = runCommand("curl -sS --max-time 60 --cacert " + caFile + " " + url + "/ 2>&1");
    EXPECT_NE(answer.find("\"code\":\"NotFoundException\""), std::string::npos) << answer;
    const std::string refused = runCommand("curl -sS --max-time 60 " + url + "/ 2>&1");
    EXPECT_EQ(refused.find("NotFoundException"), std::string::npos) << "without the CA, TLS fails: " << refused;

    const int status = server.stop(SIGTERM);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    fclose(stream);
    std::remove(caFile.c_str());
    ::rmdir(directory);
}

}  // namespace
