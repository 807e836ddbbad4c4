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
    }
};

}  // namespace

RunningDevserver& sharedDevserver() {
    static Shared shared;
    return shared.running;
}

}  // namespace testsupport
