#include "xfer/TreeHash.h"

#include "crypto/Digest.h"

namespace ostrelcomm {

namespace {

// The level above `nodes`: one digest per pair, the odd last node as it is.
std::vector<Bytes> levelAbove(const std::vector<Bytes>& nodes) {
    std::vector<Bytes> next;
    next.reserve((nodes.size() + 1) / 2);
    for (std::size_t i = 0; i < nodes.size(); i += 2) {
        if (i + 1 < nodes.size()) {
            next.push_back(Digest(DigestAlgorithm::sha256).update(nodes[i]).update(nodes[i + 1]).final());
        } else {
            next.push_back(nodes[i]);
        }
    }
    return next;
}

}  // namespace

Bytes TreeHash::compute(const std::vector<Bytes>& leaves) {
    if (leaves.empty()) return sha256({});
    if (leaves.size() == 1) return leaves.front();
    std::vector<Bytes> level = levelAbove(leaves);
    while (level.size() > 1) level = levelAbove(level);
    return std::move(level.front());
}

}  // namespace ostrelcomm
