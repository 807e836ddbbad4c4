#include "platform/LocalizedString.h"

#include <map>

namespace ostrelcomm {

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

// The library's own tables. Each area adds its texts here.
const std::map<std::string, Table, std::less<>>& tables() {
    static const std::map<std::string, Table, std::less<>> all = {
        {"Localizable",
         Table{
             // Answer checks: an answer that names another user or another
             // request than the one asked for.
             {"AnswerWrongUsername", "The server answered for a different user."},
             {"AnswerWrongAction", "The server answered a different request."},
         }},
    };
    return all;
}

}  // namespace

std::string localizedString(std::string_view table, std::string_view key) {
    auto t = tables().find(table);
    if (t == tables().end()) return std::string(key);
    auto entry = t->second.find(key);
    if (entry == t->second.end()) return std::string(key);
    return entry->second;
}

}  // namespace ostrelcomm
