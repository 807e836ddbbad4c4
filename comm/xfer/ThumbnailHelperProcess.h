#pragma once

#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "thumbnail/ThumbnailProtocol.h"

namespace ostrelcomm {

// The one thumbnail helper (quorvel-thumbnailer) of this process: started by
// the first request, again after it has died, and left to end by itself when
// this process does (its socket then closes). Its children are its own to
// reap; this process reaps only the helper.
class ThumbnailHelperProcess {
  public:
    static ThumbnailHelperProcess& shared();

    // The program: the one named by the environment variable
    // QUORVEL_THUMBNAILER when it is set, else the one built with the library
    // (an absolute path fixed when the library is built).
    static std::filesystem::path program();

    // Hands one request with its three descriptors to the helper, starting
    // it first when it is not running. False, with the reason, when no
    // helper takes it.
    bool send(const ThumbnailRequest& request, int file, int output, int ending, std::string& whyNot);

    // The running helper's process, if any (for tests).
    std::optional<pid_t> helper() const;

  private:
    ThumbnailHelperProcess() = default;

    bool start(std::string& whyNot);
    void stop();
    bool deliver(const ThumbnailRequest& request, int file, int output, int ending) const;

    mutable std::mutex mutex_;
    pid_t pid_ = -1;
    int control_ = -1;
};

}  // namespace ostrelcomm
