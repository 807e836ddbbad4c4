#include "devserver/BenchRoute.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "devserver/DataFolder.h"

namespace devserver::benchroute {

namespace fs = std::filesystem;

namespace {

// Bytes moved per read or write: large enough that the system calls cost
// nothing beside TLS, small enough that a transfer holds little memory.
constexpr std::size_t kChunk = std::size_t{1} << 20;

std::atomic<std::uint64_t> stagedCount{0};

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name.size() <= 128 && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                      c == '_' || c == '.';
           });
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int get() const { return fd_; }
    // Closes now; false when the close reports an error.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void store(DataFolder& data, const httplib::Request& req, httplib::Response& res,
           const httplib::ContentReader& reader) {
    fs::path target;
    try {
        target = fileFor(data, req.matches[1]);
    } catch (const std::exception&) {
        res.status = 400;
        return;
    }
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    // Written under a name of its own and renamed at the end, so that a GET
    // meanwhile reads the previous body whole or nothing.
    const fs::path staged = target.string() + ".part-" + std::to_string(stagedCount.fetch_add(1));
    OpenFile file(::open(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (error || file.get() < 0) {
        res.status = 500;
        return;
    }
    std::uint64_t total = 0;
    bool written = true;
    const bool read = reader([&](const char* bytes, std::size_t length) {
        written = writeAll(file.get(), bytes, length);
        total += length;
        return written;
    });
    const bool closed = file.close();
    if (!read || !written || !closed) {
        fs::remove(staged, error);
        res.status = 500;
        return;
    }
    fs::rename(staged, target, error);
    if (error) {
        fs::remove(staged, error);
        res.status = 500;
        return;
    }
    res.status = 201;
    res.set_content("stored " + std::to_string(total) + " bytes\n", "text/plain");
}

void serve(const DataFolder& data, const httplib::Request& req, httplib::Response& res) {
    fs::path source;
    try {
        source = fileFor(data, req.matches[1]);
    } catch (const std::exception&) {
        res.status = 400;
        return;
    }
    auto file = std::make_shared<OpenFile>(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat status {};
    if (file->get() < 0 || ::fstat(file->get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        res.status = 404;
        return;
    }
    auto buffer = std::make_shared<std::vector<char>>(kChunk);
    res.set_content_provider(static_cast<std::size_t>(status.st_size), "application/octet-stream",
                             [file, buffer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 const std::size_t want = std::min(length, buffer->size());
                                 ssize_t got = 0;
                                 do {
                                     got = ::pread(file->get(), buffer->data(), want, static_cast<off_t>(offset));
                                 } while (got < 0 && errno == EINTR);
                                 // A file cut short meanwhile ends the answer early: the
                                 // client sees a transfer that failed.
                                 if (got <= 0) return false;
                                 return sink.write(buffer->data(), static_cast<std::size_t>(got));
                             });
}

}  // namespace

void HandlerTimes::add(const std::string& route, std::chrono::steady_clock::duration spent) {
    std::lock_guard lock(mutex_);
    Total& total = totals_[route];
    ++total.count;
    total.spent += spent;
}

std::string HandlerTimes::take() {
    std::map<std::string, Total> totals;
    {
        std::lock_guard lock(mutex_);
        totals.swap(totals_);
    }
    std::string text;
    for (const auto& [route, total] : totals) {
        char line[64];
        std::snprintf(line, sizeof line, " %llu %.6f\n", static_cast<unsigned long long>(total.count),
                      std::chrono::duration<double>(total.spent).count());
        text += route + line;
    }
    return text;
}

fs::path fileFor(const DataFolder& data, const std::string& name) {
    if (!isPlainFileName(name)) throw std::runtime_error("devserver: a bench file name is no plain name");
    const fs::path root = data.path();
    if (root.empty()) throw std::runtime_error("devserver: the data folder is not open");
    return root / "bench" / name;
}

void install(httplib::Server& server, DataFolder& data, HandlerTimes& times, std::size_t protocolBodyLimit) {
    server.Get(kTimesPath, [&times](const httplib::Request&, httplib::Response& res) {
        res.set_content(times.take(), "text/plain");
    });
    const std::string pattern = std::string(kPrefix) + "([^/]+)";
    server.Put(pattern, [&data](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) { store(data, req, res, reader); });
    server.Get(pattern, [&data](const httplib::Request& req, httplib::Response& res) { serve(data, req, res); });

    server.set_payload_max_length(std::numeric_limits<std::size_t>::max());
    server.set_pre_routing_handler([protocolBodyLimit](const httplib::Request& req, httplib::Response& res) {
        if (startsWith(req.path, kPrefix)) return httplib::Server::HandlerResponse::Unhandled;
        const bool chunked = req.has_header("Transfer-Encoding");
        const std::string announced = req.get_header_value("Content-Length");
        char* end = nullptr;
        const unsigned long long length = announced.empty() ? 0 : std::strtoull(announced.c_str(), &end, 10);
        const bool unreadable = !announced.empty() && (end == nullptr || *end != '\0');
        if (!chunked && !unreadable && length <= protocolBodyLimit) return httplib::Server::HandlerResponse::Unhandled;
        // The body is still on the connection, unread: answer, then close it.
        res.status = 413;
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
}

}  // namespace devserver::benchroute
