#pragma once

#include "platform/RegularFile.h"
#include "thumbnail/ThumbnailKind.h"
#include "thumbnail/ThumbnailProtocol.h"
#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

// Makes a thumbnail in a short-lived child of the thumbnail helper
// (ThumbnailHelperProcess), so that what a hostile file does to a decoder (a
// crash, memory or time without end, a leak) stays out of the client. The
// child gets the file on a descriptor and nothing else of this process, and
// confines itself to the limits before it reads the file; the helper ends it
// when its wall time is up, and no more of its output is read than a
// thumbnail can take.
class ThumbnailChild {
  public:
    explicit ThumbnailChild(ThumbnailLimits limits = {}, ThumbnailFault fault = ThumbnailFault::none);

    // The thumbnail of the file's content as `kind`, or nothing. A child that
    // cannot start, dies, overruns its limits or writes anything but a
    // complete output gives nothing and one line in the system log;
    // otherwise the child's own line, if any, is written there. Safe to call
    // from several threads at once; it waits for the child, so keep it off an
    // engine's lock.
    ThumbnailResult make(const RegularFile& file, ThumbnailKind kind) const;

  private:
    ThumbnailLimits limits_;
    ThumbnailFault fault_;
};

}  // namespace ostrelcomm
