#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ostrelcomm::keychain {

// A value of a keychain query or result: a flag, a text, or raw bytes (an
// item's data).
using KeychainValue = std::variant<bool, std::string, std::vector<std::uint8_t>>;

// The dictionary handed to the keychain operations: attribute names to values,
// one entry per name, kept in the order they were first set. Byte values may be
// secrets, so they are wiped when the dictionary lets go of them.
class KeychainDictionary {
public:
    using Entry = std::pair<std::string, KeychainValue>;

    KeychainDictionary() = default;
    KeychainDictionary(std::initializer_list<Entry> entries);
    KeychainDictionary(const KeychainDictionary&) = default;
    KeychainDictionary(KeychainDictionary&&) noexcept = default;
    KeychainDictionary& operator=(const KeychainDictionary& other);
    KeychainDictionary& operator=(KeychainDictionary&& other) noexcept;
    ~KeychainDictionary();

    // Sets `key`, replacing an earlier value in place.
    void set(std::string_view key, KeychainValue value);
    void setText(std::string_view key, std::string_view text);
    void setFlag(std::string_view key, bool flag);
    void setData(std::string_view key, std::vector<std::uint8_t> data);

    const KeychainValue* find(std::string_view key) const;
    // The value of `key` when it is present and of that type, otherwise null.
    const std::string* findText(std::string_view key) const;
    const bool* findFlag(std::string_view key) const;
    const std::vector<std::uint8_t>* findData(std::string_view key) const;

    bool contains(std::string_view key) const { return find(key) != nullptr; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    bool operator==(const KeychainDictionary&) const = default;

private:
    void wipe() noexcept;

    std::vector<Entry> entries_;
};

}  // namespace ostrelcomm::keychain
