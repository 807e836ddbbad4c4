#pragma once

#include <vector>

#include "platform/Bytes.h"

namespace ostrelcomm {

// Condenses the digests of a file's blocks, in block order, into the file's
// tree hash. Uploads store it and downloads check against it, so the tree's
// shape is part of the stored data: pairs are joined left then right and
// hashed with SHA-256, a level's odd last node goes up unchanged, a single
// leaf is its own tree hash whatever its length, and no leaf at all gives the
// SHA-256 of empty input. Nothing is prefixed or length-tagged.
class TreeHash {
public:
    static Bytes compute(const std::vector<Bytes>& leaves);
};

}  // namespace ostrelcomm
