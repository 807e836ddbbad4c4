#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/Bytes.h"

namespace ostrelcomm {

// Key material, passwords and session keys. The buffer is wiped whenever it is
// released, and the type deliberately has no stream operator, so a secret can
// neither outlive its holder in freed memory nor end up in a log by accident.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(Bytes bytes) : data_(std::move(bytes)) {}
    explicit SecretBytes(ByteView bytes) : data_(bytes.begin(), bytes.end()) {}
    static SecretBytes fromText(std::string_view text) { return SecretBytes(asBytes(text)); }

    SecretBytes(const SecretBytes& other) : data_(other.data_) {}
    SecretBytes(SecretBytes&& other) noexcept : data_(std::move(other.data_)) { other.wipe(); }
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes() { wipe(); }

    const std::uint8_t* data() const { return data_.data(); }
    std::uint8_t* data() { return data_.data(); }
    std::size_t size() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    ByteView view() const { return data_; }
    operator ByteView() const { return data_; }
    // Copies the secret out, for APIs that need a plain buffer. The caller owns
    // the copy's lifetime; prefer view() where a span will do.
    Bytes copyOut() const { return data_; }
    std::string_view textView() const {
        return {reinterpret_cast<const char*>(data_.data()), data_.size()};
    }

    void resize(std::size_t n);
    void append(ByteView bytes);
    void wipe() noexcept;

    friend bool operator==(const SecretBytes& a, const SecretBytes& b);

private:
    Bytes data_;
};

}  // namespace ostrelcomm
