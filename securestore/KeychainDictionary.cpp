#include "securestore/KeychainDictionary.h"

#include <cstring>

namespace ostrelcomm::keychain {

KeychainDictionary::KeychainDictionary(std::initializer_list<Entry> entries) {
    for (const auto& [key, value] : entries) set(key, value);
}

KeychainDictionary& KeychainDictionary::operator=(const KeychainDictionary& other) {
    if (this != &other) {
        wipe();
        entries_ = other.entries_;
    }
    return *this;
}

KeychainDictionary& KeychainDictionary::operator=(KeychainDictionary&& other) noexcept {
    if (this != &other) {
        wipe();
        entries_ = std::move(other.entries_);
        other.entries_.clear();
    }
    return *this;
}

KeychainDictionary::~KeychainDictionary() { wipe(); }

void KeychainDictionary::wipe() noexcept {
    for (auto& entry : entries_) {
        if (auto* data = std::get_if<std::vector<std::uint8_t>>(&entry.second); data && !data->empty()) {
            explicit_bzero(data->data(), data->size());
        }
    }
}

void KeychainDictionary::set(std::string_view key, KeychainValue value) {
    for (auto& entry : entries_) {
        if (entry.first == key) {
            if (auto* data = std::get_if<std::vector<std::uint8_t>>(&entry.second); data && !data->empty()) {
                explicit_bzero(data->data(), data->size());
            }
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::string(key), std::move(value));
}

void KeychainDictionary::setText(std::string_view key, std::string_view text) {
    set(key, KeychainValue(std::in_place_type<std::string>, text));
}

void KeychainDictionary::setFlag(std::string_view key, bool flag) { set(key, KeychainValue(flag)); }

void KeychainDictionary::setData(std::string_view key, std::vector<std::uint8_t> data) {
    set(key, KeychainValue(std::move(data)));
}

const KeychainValue* KeychainDictionary::find(std::string_view key) const {
    for (const auto& entry : entries_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

const std::string* KeychainDictionary::findText(std::string_view key) const {
    const auto* value = find(key);
    return value ? std::get_if<std::string>(value) : nullptr;
}

const bool* KeychainDictionary::findFlag(std::string_view key) const {
    const auto* value = find(key);
    return value ? std::get_if<bool>(value) : nullptr;
}

const std::vector<std::uint8_t>* KeychainDictionary::findData(std::string_view key) const {
    const auto* value = find(key);
    return value ? std::get_if<std::vector<std::uint8_t>>(value) : nullptr;
}

}  // namespace ostrelcomm::keychain
