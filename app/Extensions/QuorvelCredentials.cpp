#include "app/Extensions/QuorvelCredentials.h"

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "securestore/AppleSecureStore.h"
#include "securestore/GenericPasswordQueryable.h"

namespace quorvel {

namespace {

using ostrelcomm::ByteView;
using ostrelcomm::SecretBytes;

constexpr char kUsernameKey[] = "username";
constexpr char kPasswordKey[] = "password";
// Deeper than any record of ours; a deeper text is refused, not recursed into.
constexpr int kMaxDepth = 64;

// --- writing -----------------------------------------------------------------------------
//
// The text is measured first and then written in place into one buffer, so
// that no growing buffer leaves a copy of the password behind.

class TextWriter {
public:
    // Counts when `out` is null.
    explicit TextWriter(SecretBytes* out) : out_(out) {}

    void raw(std::string_view text) {
        for (char c : text) put(static_cast<std::uint8_t>(c));
    }
    // A JSON string: quotes, backslashes and control characters escaped,
    // everything else as it is (the text is UTF-8).
    void string(ByteView text) {
        static constexpr char kHex[] = "0123456789abcdef";
        put('"');
        for (std::uint8_t c : text) {
            switch (c) {
                case '"': raw("\\\""); break;
                case '\\': raw("\\\\"); break;
                case '\b': raw("\\b"); break;
                case '\f': raw("\\f"); break;
                case '\n': raw("\\n"); break;
                case '\r': raw("\\r"); break;
                case '\t': raw("\\t"); break;
                default:
                    if (c < 0x20) {
                        raw("\\u00");
                        put(static_cast<std::uint8_t>(kHex[c >> 4]));
                        put(static_cast<std::uint8_t>(kHex[c & 0x0F]));
                    } else {
                        put(c);
                    }
            }
        }
        put('"');
    }
    std::size_t size() const { return size_; }

private:
    void put(std::uint8_t byte) {
        if (out_) out_->data()[size_] = byte;
        ++size_;
    }

    SecretBytes* out_;
    std::size_t size_ = 0;
};

void writeRecord(TextWriter& writer, const std::optional<std::string>& username,
                 const std::optional<SecretBytes>& password) {
    writer.raw("{");
    if (username) {
        writer.string(ostrelcomm::asBytes(kUsernameKey));
        writer.raw(":");
        writer.string(ostrelcomm::asBytes(*username));
    }
    if (password) {
        if (username) writer.raw(",");
        writer.string(ostrelcomm::asBytes(kPasswordKey));
        writer.raw(":");
        writer.string(password->view());
    }
    writer.raw("}");
}

SecretBytes recordText(const std::optional<std::string>& username, const std::optional<SecretBytes>& password) {
    TextWriter counter(nullptr);
    writeRecord(counter, username, password);
    SecretBytes text;
    text.resize(counter.size());
    TextWriter writer(&text);
    writeRecord(writer, username, password);
    return text;
}

// --- reading -----------------------------------------------------------------------------
//
// A strict JSON reader of just this record (RFC 8259): a top-level object
// whose members "username" and "password" are strings or null; any other
// member is checked and passed over. Decoded strings go straight into
// SecretBytes.

class RecordReader {
public:
    explicit RecordReader(std::string_view text) : text_(text) {}

    // False for anything but a well-formed record.
    bool read(std::optional<SecretBytes>& username, std::optional<SecretBytes>& password) {
        skipWhitespace();
        if (!consume('{')) return false;
        skipWhitespace();
        if (!consume('}')) {
            do {
                skipWhitespace();
                SecretBytes key;
                if (!string(key)) return false;
                skipWhitespace();
                if (!consume(':')) return false;
                skipWhitespace();
                std::optional<SecretBytes>* field = nullptr;
                if (key.textView() == kUsernameKey) field = &username;
                if (key.textView() == kPasswordKey) field = &password;
                if (field) {
                    if (!stringOrNull(*field)) return false;
                } else if (!value(1)) {
                    return false;
                }
                skipWhitespace();
            } while (consume(','));
            if (!consume('}')) return false;
        }
        skipWhitespace();
        return at_ == text_.size();
    }

private:
    bool stringOrNull(std::optional<SecretBytes>& field) {
        if (literal("null")) {
            field.reset();
            return true;
        }
        SecretBytes decoded;
        if (!string(decoded)) return false;
        field = std::move(decoded);
        return true;
    }

    // Any JSON value, checked and dropped.
    bool value(int depth) {
        if (depth > kMaxDepth || at_ >= text_.size()) return false;
        switch (text_[at_]) {
            case '"': {
                SecretBytes dropped;
                return string(dropped);
            }
            case '{': return container('}', depth, true);
            case '[': return container(']', depth, false);
            case 't': return literal("true");
            case 'f': return literal("false");
            case 'n': return literal("null");
            default: return number();
        }
    }

    bool container(char close, int depth, bool isObject) {
        ++at_;
        skipWhitespace();
        if (consume(close)) return true;
        do {
            skipWhitespace();
            if (isObject) {
                SecretBytes key;
                if (!string(key)) return false;
                skipWhitespace();
                if (!consume(':')) return false;
                skipWhitespace();
            }
            if (!value(depth + 1)) return false;
            skipWhitespace();
        } while (consume(','));
        return consume(close);
    }

    bool number() {
        consume('-');
        if (!consume('0') && !digits()) return false;
        if (consume('.') && !digits()) return false;
        if (consume('e') || consume('E')) {
            if (!consume('+')) consume('-');
            if (!digits()) return false;
        }
        return true;
    }

    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
        return at_ > start;
    }

    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    // A string at the reading position, unescaped into `out` (as UTF-8).
    bool string(SecretBytes& out) {
        if (!consume('"')) return false;
        // Unescaped, a string is never longer than it is written: its
        // written length, up to the first quote not escaped, bounds the
        // buffer.
        std::size_t end = at_;
        while (end < text_.size() && text_[end] != '"') end += text_[end] == '\\' ? 2 : 1;
        if (end >= text_.size()) return false;
        SecretBytes decoded;
        decoded.resize(end - at_);
        std::size_t length = 0;
        bool overrun = false;
        auto put = [&](std::uint32_t byte) {
            if (length < decoded.size()) {
                decoded.data()[length++] = static_cast<std::uint8_t>(byte);
            } else {
                overrun = true;
            }
        };
        while (true) {
            if (at_ >= text_.size()) return false;
            const auto c = static_cast<std::uint8_t>(text_[at_++]);
            if (c == '"') break;
            if (c < 0x20) return false;
            if (c != '\\') {
                put(c);
                continue;
            }
            if (at_ >= text_.size()) return false;
            switch (text_[at_++]) {
                case '"': put('"'); break;
                case '\\': put('\\'); break;
                case '/': put('/'); break;
                case 'b': put('\b'); break;
                case 'f': put('\f'); break;
                case 'n': put('\n'); break;
                case 'r': put('\r'); break;
                case 't': put('\t'); break;
                case 'u': {
                    std::uint32_t code = 0;
                    if (!hex4(code)) return false;
                    if (code >= 0xDC00 && code <= 0xDFFF) return false;  // a low half alone
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    // Never longer than the six or twelve characters it came from.
                    if (code < 0x80) {
                        put(code);
                    } else if (code < 0x800) {
                        put(0xC0 | (code >> 6));
                        put(0x80 | (code & 0x3F));
                    } else if (code < 0x10000) {
                        put(0xE0 | (code >> 12));
                        put(0x80 | ((code >> 6) & 0x3F));
                        put(0x80 | (code & 0x3F));
                    } else {
                        put(0xF0 | (code >> 18));
                        put(0x80 | ((code >> 12) & 0x3F));
                        put(0x80 | ((code >> 6) & 0x3F));
                        put(0x80 | (code & 0x3F));
                    }
                    break;
                }
                default: return false;
            }
        }
        if (overrun) return false;
        decoded.resize(length);
        out = std::move(decoded);
        return true;
    }

    bool hex4(std::uint32_t& code) {
        if (text_.size() - at_ < 4) return false;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') code |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') code |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') code |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    bool consume(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void skipWhitespace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// Wipes a text that held the record when it goes.
class WipedText {
public:
    explicit WipedText(std::string& text) : text_(text) {}
    WipedText(const WipedText&) = delete;
    WipedText& operator=(const WipedText&) = delete;
    ~WipedText() {
        if (!text_.empty()) OPENSSL_cleanse(text_.data(), text_.size());
    }

private:
    std::string& text_;
};

ostrelcomm::AppleSecureStore storeFor(const std::string& keychainID) {
    return ostrelcomm::AppleSecureStore(ostrelcomm::GenericPasswordQueryable(keychainID));
}

}  // namespace

bool QuorvelCredentials::storeCredentials(const std::string& keychainID, const std::string& username,
                                          const SecretBytes& password) {
    this->username = username;
    this->password = password;
    const ByteView name = ostrelcomm::asBytes(username);
    if (!ostrelcomm::isUtf8(name.data(), name.size()) ||
        !ostrelcomm::isUtf8(password.view().data(), password.view().size()))
        return false;
    try {
        const SecretBytes text = recordText(this->username, this->password);
        storeFor(keychainID).setValue(text.textView(), kAccount);
        return true;
    } catch (const std::exception&) {
        // The caller shows its own alert; the keychain's reason goes nowhere.
        return false;
    }
}

bool QuorvelCredentials::retrieveCredentials(const std::string& keychainID) {
    std::optional<std::string> value;
    try {
        value = storeFor(keychainID).getValue(kAccount);
    } catch (const std::exception&) {
        return false;
    }
    if (!value) return false;
    WipedText wiped(*value);

    std::optional<SecretBytes> storedUsername;
    std::optional<SecretBytes> storedPassword;
    if (!RecordReader(*value).read(storedUsername, storedPassword)) return false;
    username = storedUsername ? std::optional<std::string>(std::string(storedUsername->textView())) : std::nullopt;
    password = std::move(storedPassword);
    return true;
}

}  // namespace quorvel
