#include "support/SharedDevserver.h"

#include <stdlib.h>

#include <stdexcept>

#include "http/Http.h"

namespace testsupport {

namespace {

struct Shared {
    RunningDevserver running;

    Shared() {
        ::setenv("QUORVEL_SERVER_URL", running.server().baseUrl().c_str(), 1);
        ::setenv("QUORVEL_CA_FILE", running.caFile().c_str(), 1);
        if (ostrelcomm::Http::url().at("Switzerland") != running.server().baseUrl())
            throw std::logic_error("an Http was made before the shared devserver started");
        // The server's HTTP library builds static tables at its first request.
        // Statics end in the reverse order of their making, so one request
        // made here, before this object is complete, keeps those tables alive
        // until this object has stopped the server: a client's last request
        // at exit never meets them half destroyed.
        exchangeRawOverTls(running, "GET /v1/ HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                           [](std::string_view) { return true; });
    }
};

}  // namespace

RunningDevserver& sharedDevserver() {
    static Shared shared;
    return shared.running;
}

}  // namespace testsupport
