#include "devserver/Endpoints.h"

#include "devserver/AccountEndpoints.h"
#include "devserver/CopyEndpoints.h"
#include "devserver/DevServer.h"
#include "devserver/FolderChangeEndpoints.h"
#include "devserver/FolderTreeEndpoints.h"
#include "devserver/FileEndpoints.h"
#include "devserver/LoginEndpoints.h"
#include "devserver/ShareEndpoints.h"
#include "devserver/TransferEndpoints.h"
#include "devserver/TreeEndpoints.h"
#include "devserver/TrustEndpoints.h"

namespace devserver {

void installEndpoints(DevServer& server) {
    installLoginEndpoints(server);
    installAccountEndpoints(server);
    installTreeEndpoints(server);
    installFolderChangeEndpoints(server);
    installFolderTreeEndpoints(server);
    installFileEndpoints(server);
    installCopyEndpoints(server);
    installTransferEndpoints(server);
    installDownloadEndpoints(server);
    installTrustEndpoints(server);
    installShareEndpoints(server);
}

}  // namespace devserver
