#include "devserver/Endpoints.h"

#include "devserver/DevServer.h"

namespace devserver {

void installEndpoints(DevServer& server) {
    // No area has endpoints yet.
    (void)server;
}

}  // namespace devserver
