#pragma once

#include <string>

namespace ostrelcomm {

// The application's information entries (name, versions, copyright, the
// keychain identifier prefix). The application sets them once at start; the
// library reads them, for instance for its User-Agent.
struct AppInfo {
    std::string name;
    std::string shortVersion;
    std::string build;
    std::string copyright;
    std::string identifierPrefix;

    static AppInfo current();
    static void set(AppInfo info);
};

}  // namespace ostrelcomm
