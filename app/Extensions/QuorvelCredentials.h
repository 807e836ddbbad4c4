#pragma once

#include <optional>
#include <string>

#include "crypto/SecretBytes.h"

namespace quorvel {

// The login credentials kept in the keychain: one generic-password item per
// installation, of service `keychainID` (Appwise::keychainID()) and account
// "credentials", whose data is the record's JSON text
// {"username": …, "password": …}, each member only when the field is
// present.
//
// Reading takes a missing or null member as absent; a member of another
// type, or a text that is no JSON object, is a decoding failure. Other
// members are passed over.
//
// The JSON text holds the password in clear: it is built and read in
// buffers that are wiped when they go, the password is kept as SecretBytes,
// and nothing of it is logged. There is no other place to keep it: without a
// Secret Service both operations fail.
struct QuorvelCredentials {
    static constexpr char kAccount[] = "credentials";

    std::optional<std::string> username;
    std::optional<ostrelcomm::SecretBytes> password;

    // Sets both fields and stores the record as the item of `keychainID`,
    // adding it or replacing its data. False when the record cannot be
    // written as UTF-8 JSON or the keychain refuses; why is not told.
    bool storeCredentials(const std::string& keychainID, const std::string& username,
                          const ostrelcomm::SecretBytes& password);
    // Reads the item of `keychainID` into both fields. False, with the
    // fields left as they were, when there is no item, the keychain fails,
    // or its data is not the record's JSON in UTF-8.
    bool retrieveCredentials(const std::string& keychainID);

    friend bool operator==(const QuorvelCredentials&, const QuorvelCredentials&) = default;
};

}  // namespace quorvel
