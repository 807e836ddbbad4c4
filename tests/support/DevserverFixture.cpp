#include "support/DevserverFixture.h"

#include <stdlib.h>
#include <unistd.h>

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

}  // namespace testsupport
