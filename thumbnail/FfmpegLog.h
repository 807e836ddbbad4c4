#pragma once

namespace ostrelcomm {

// FFmpeg writes its warnings about damaged input to standard error; a
// thumbnail that cannot be made is no event for the user, so they are
// silenced once for the process before the first FFmpeg call.
void silenceFfmpegLog();

}  // namespace ostrelcomm
