#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The application's English string tables.
inline constexpr char kLocalizableTable[] = "Localizable";
// The job-type labels of the jobs list: "jobType." followed by the JobType
// case name.
inline constexpr char kCommStatesTable[] = "CommStates";

// The text of `key` in one of the application's tables; a key the table lacks
// (or an unknown table) gives the key itself, so a missing entry shows.
std::string localize(std::string_view key, std::string_view table = kLocalizableTable);

}  // namespace quorvel
