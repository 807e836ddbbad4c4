// What a camera or a hostile server can hand the trust code readers: any
// text as a QR trust code, and any body as the server's list of trusted
// peers. The code reader never fails and gives either a readable code or the
// whole empty record; whatever it reads writes back into a code that reads
// the same. The list gives a value or a decoding error, nothing else.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"
#include "shares/Server_TrustsList.h"
#include "shares/TrustCode.h"

using namespace ostrelcomm;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void trustString(const std::string& text) {
    const TrustCode code(text);
    if (code == TrustCode()) return;
    // A code read from ASCII text holds valid UTF-8 and writes back.
    std::string again;
    try {
        again = code.encode();
    } catch (const std::exception&) {
        std::abort();
    }
    bool ascii = true;
    for (char c : again) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) check(TrustCode(again) == code);
}

void trustsList(const std::uint8_t* data, std::size_t size) {
    Server_TrustsList list;
    try {
        list = Server_TrustsList::fromBody(ByteView(data, size));
    } catch (const json::DecodeError&) {
        return;
    }
    // The parser let through only valid UTF-8, so every entry writes back.
    for (const auto& code : list.trusts) (void)code.encode();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        trustString(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    } else {
        trustsList(data + 1, size - 1);
    }
    return 0;
}
