#include "user/UserProfile.h"

namespace ostrelcomm {

void from_json(const json::Json& value, UserProfile& profile) {
    profile.userUUID = json::requireString(value, "userUUID");
    profile.profilename = json::requireString(value, "profilename");
    profile.currentplanexpiry = json::optionalDate(value, "currentplanexpiry");
    profile.pubshkey = json::requireBase64(value, "pubshkey");
    profile.since = json::requireDate(value, "since");
    profile.lastlogin = json::optionalDate(value, "lastlogin");
    profile.lastresult = json::requireString(value, "lastresult");
    profile.diskspace = json::requireInteger<std::uint64_t>(value, "diskspace");
    profile.usedspace = json::requireInteger<std::uint64_t>(value, "usedspace");
    profile.availablespace = json::requireInteger<std::uint64_t>(value, "availablespace");
    profile.directories = json::requireInteger<std::size_t>(value, "directories");
    profile.files = json::requireInteger<std::size_t>(value, "files");
}

void to_json(json::OrderedJson& value, const UserProfile& profile) {
    value = json::OrderedJson::object();
    value["userUUID"] = profile.userUUID;
    value["profilename"] = profile.profilename;
    if (profile.currentplanexpiry) json::putDate(value, "currentplanexpiry", *profile.currentplanexpiry);
    json::putBase64(value, "pubshkey", profile.pubshkey);
    json::putDate(value, "since", profile.since);
    if (profile.lastlogin) json::putDate(value, "lastlogin", *profile.lastlogin);
    value["lastresult"] = profile.lastresult;
    value["diskspace"] = profile.diskspace;
    value["usedspace"] = profile.usedspace;
    value["availablespace"] = profile.availablespace;
    value["directories"] = profile.directories;
    value["files"] = profile.files;
}

}  // namespace ostrelcomm
