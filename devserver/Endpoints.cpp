#include "devserver/Endpoints.h"

#include "devserver/AccountEndpoints.h"
#include "devserver/DevServer.h"
#include "devserver/FileEndpoints.h"
#include "devserver/LoginEndpoints.h"
#include "devserver/TransferEndpoints.h"
#include "devserver/TreeEndpoints.h"
#include "devserver/TrustEndpoints.h"

namespace devserver {

void installEndpoints(DevServer& server) {
    installLoginEndpoints(server);
    installAccountEndpoints(server);
    installTreeEndpoints(server);
    installTransferEndpoints(server);
    installDownloadEndpoints(server);
    installTrustEndpoints(server);
    installFileEndpoints(server);
}

}  // namespace devserver
