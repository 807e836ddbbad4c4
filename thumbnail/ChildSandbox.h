#pragma once

#include <cstdint>

#include "thumbnail/ThumbnailProtocol.h"

namespace ostrelcomm {

// A thumbnail helper's child confines itself with these before it opens any
// decoder. Each gives false when the system refuses it; the child then makes
// no thumbnail at all.

// The address space in use now plus the limits' memory, their processor
// time, and no core file (a decoder that crashes on a hostile file must not
// leave its memory on disk).
bool applyChildLimits(const ThumbnailLimits& limits);
// The same with the memory counted from `inUse`, an address space measured
// earlier: what the process mapped since then is taken from the limits'
// memory.
bool applyChildLimits(const ThumbnailLimits& limits, std::uint64_t inUse);

// The address space this process holds, in bytes; 0 when it cannot be read.
std::uint64_t addressSpaceInUse();

// No socket can be made from here on, so no decoder can reach a network,
// however it is led astray. Refused sockets fail with EACCES; a system call
// of another architecture's table ends the process.
bool forbidNetwork();

}  // namespace ostrelcomm
