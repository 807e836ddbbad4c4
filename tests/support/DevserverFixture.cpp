#include "support/DevserverFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include <cstdio>
#include <stdexcept>

#include "devserver/Endpoints.h"

namespace testsupport {

RunningDevserver::RunningDevserver(devserver::DevServerOptions options, bool protocolEndpoints)
    : server_(std::move(options)) {
    char pattern[] = "/tmp/quorvel-devserver-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary directory");
    directory_ = pattern;
    caFile_ = directory_ + "/ca.pem";
    if (protocolEndpoints) devserver::installEndpoints(server_);
    server_.start();
    server_.writeCaCertificate(caFile_);
}

RunningDevserver::~RunningDevserver() {
    server_.stop();
    std::remove(caFile_.c_str());
    ::rmdir(directory_.c_str());
}

std::string RunningDevserver::url(std::string_view path) const { return server_.baseUrl() + std::string(path); }

std::shared_ptr<ostrelcomm::UrlSessionConfiguration> RunningDevserver::sessionConfiguration() const {
    auto configuration = ostrelcomm::UrlSessionConfiguration::ephemeral();
    configuration->additionalCaFile = caFile_;
    return configuration;
}

void withRawTls(const RunningDevserver& server, const std::function<void(ssl_st* ssl)>& use) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval guard{60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(const_cast<RunningDevserver&>(server)->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(context, server.caFile().c_str(), nullptr);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) == 1) use(ssl);
        SSL_free(ssl);
        SSL_CTX_free(context);
        ERR_clear_error();
    }
    ::close(fd);
}

void exchangeRawOverTls(const RunningDevserver& server, const std::string& bytes,
                        const std::function<bool(std::string_view piece)>& onRead) {
    withRawTls(server, [&](SSL* ssl) {
        if (SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) <= 0) return;
        std::vector<char> buffer(65536);
        int n = 0;
        while ((n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()))) > 0) {
            if (!onRead(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) break;
        }
    });
}

}  // namespace testsupport
