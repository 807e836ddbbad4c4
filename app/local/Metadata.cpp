#include "app/local/Metadata.h"

namespace quorvel {

std::string debugDescription(const Metadata& entry) {
    return entry.name + " Folder: " + (entry.isFolder ? "true" : "false") + " Size: " + std::to_string(entry.size);
}

}  // namespace quorvel
