// quorvel-devserver: the stand-in server in the foreground, for the run
// command and for trying the client by hand. Stops on SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "devserver/AccountEndpoints.h"
#include "devserver/BenchRoute.h"
#include "devserver/DevServer.h"
#include "devserver/Endpoints.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: quorvel-devserver [--host ADDRESS] [--port N] [--ca-out FILE] [--data-dir DIR]\n"
                 "                         [--demo-user NAME:PASSWORD]... [--bench-route]\n"
                 "  --host       address to listen on (default 127.0.0.1)\n"
                 "  --port       port to listen on (default 8443; 0 picks a free one)\n"
                 "  --ca-out     where to write the CA certificate that clients must trust\n"
                 "  --data-dir   where uploaded blocks are kept (made if missing, kept at stop;\n"
                 "               default: a temporary folder removed at stop)\n"
                 "  --demo-user  an account to log in with, made at start with its keys (repeatable;\n"
                 "               the name ends at the first ':')\n"
                 "  --bench-route  also serve raw bytes at /bench/NAME (outside the protocol, for\n"
                 "               measuring beside curl): PUT streams the body into DATA/bench/NAME,\n"
                 "               GET streams it back; no signature, no size limit. Off by default\n");
}

}  // namespace

int main(int argc, char** argv) {
    devserver::DevServerOptions options;
    options.port = 8443;
    options.keepAliveSeconds = 5;
    options.recordRequests = false;
    std::string caOut;
    std::vector<std::pair<std::string, std::string>> demoUsers;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--host" && hasValue) {
            options.host = argv[++i];
        } else if (arg == "--port" && hasValue) {
            char* end = nullptr;
            const long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) {
                usage();
                return 2;
            }
            options.port = static_cast<int>(port);
        } else if (arg == "--ca-out" && hasValue) {
            caOut = argv[++i];
        } else if (arg == "--data-dir" && hasValue) {
            options.dataDir = argv[++i];
        } else if (arg == "--bench-route") {
            options.benchRoute = true;
        } else if (arg == "--demo-user" && hasValue) {
            const std::string spec = argv[++i];
            const auto colon = spec.find(':');
            if (colon == std::string::npos || colon == 0) {
                usage();
                return 2;
            }
            demoUsers.emplace_back(spec.substr(0, colon), spec.substr(colon + 1));
        } else {
            usage();
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }

    // Every thread made from here on inherits this mask, so the two stop
    // signals reach only sigwait() below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        devserver::DevServer server(options);
        devserver::installEndpoints(server);
        for (const auto& [name, password] : demoUsers) devserver::addDemoUser(server.users(), name, password);
        server.start();
        if (!caOut.empty()) server.writeCaCertificate(caOut);
        std::printf("quorvel-devserver listening on %s\n", server.baseUrl().c_str());
        if (!caOut.empty()) std::printf("CA certificate: %s\n", caOut.c_str());
        std::printf("data folder: %s\n", server.dataFolder().path().c_str());
        for (const auto& demoUser : demoUsers) std::printf("demo user: %s\n", demoUser.first.c_str());
        if (options.benchRoute) std::printf("bench route: %s%s\n", server.origin().c_str(), devserver::benchroute::kPrefix);
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
        std::printf("quorvel-devserver stopping\n");
        std::fflush(stdout);
        server.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvel-devserver: %s\n", e.what());
        return 1;
    }
    return 0;
}
