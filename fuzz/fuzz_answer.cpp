// The transport's answer routine on arbitrary answers: any status, MIME type,
// header fields, session key and body, for answer types of every shape, plus
// the reading of the server's error report. Nothing may crash, leak, hang or
// break the routine's contract (a value with every header field, or an error
// with none).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "auth/Server_P1_Answer.h"
#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "http/Http.h"
#include "http/Server_GenericConfirmation.h"
#include "shares/Server_AddTrustConfirmation.h"
#include "tree/Server_DirectoryInformations.h"
#include "user/PeerShareData.h"
#include "user/Server_UserProfile.h"
#include "user/Server_UsersSessions.h"
#include "xfer/Server_RecvPrepareAnswer.h"
#include "xfer/Server_SendBlockAnswer.h"

using namespace ostrelcomm;

namespace {

const char* const kNames[] = {"x-sb-auth-headers", "x-sb-auth", "x-sb-payload-sha256", "Content-Type",
                              "x-sb-action",       "x-sb-username", " x-sb-action", ""};

std::string pickName(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(24);
    return kNames[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)];
}

template <ServerAnswer T>
void run(std::optional<Bytes> body, const std::optional<HttpUrlResponse>& response,
         const std::optional<UrlError>& error, const std::string& answerType,
         const std::optional<SecretBytes>& key, Http::AnswerVariant variant) {
    auto outcome = Http::handleAnswer<T>(std::move(body), response, error, answerType, key, variant);
    const bool contract = outcome.value.has_value() != outcome.error.has_value() &&
                          (outcome.value.has_value() || outcome.headers.empty());
    if (!contract) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);

    const auto type = in.ConsumeIntegralInRange<int>(0, 9);
    const auto variant = in.ConsumeBool() ? Http::AnswerVariant::payload : Http::AnswerVariant::plain;
    const std::string answerType = in.ConsumeBool() ? "application/json" : "application/octet-stream";

    std::optional<UrlError> error;
    if (in.ConsumeProbability<float>() < 0.05f) error = UrlError{UrlErrorCode::timedOut, "timed out"};

    std::optional<HttpUrlResponse> response;
    if (in.ConsumeProbability<float>() > 0.02f) {
        HttpUrlResponse r;
        r.statusCode = in.ConsumeBool() ? 200 : in.ConsumeIntegral<int>();
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: r.mimeType = answerType; break;
            case 1: r.mimeType = "application/json"; break;
            case 2: r.mimeType = in.ConsumeRandomLengthString(32); break;
            default: break;
        }
        const auto count = in.ConsumeIntegralInRange<int>(0, 8);
        for (int i = 0; i < count; ++i) r.headerFields.emplace_back(pickName(in), in.ConsumeRandomLengthString(96));
        response = std::move(r);
    }

    std::optional<SecretBytes> key;
    const bool signAnswer = in.ConsumeBool();
    if (in.ConsumeBool()) key = SecretBytes(in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<int>(0, 40)));

    std::optional<Bytes> body;
    if (in.ConsumeProbability<float>() > 0.02f) body = in.ConsumeRemainingBytes<std::uint8_t>();

    // Half the time the answer is signed properly, so that the decoding behind
    // the signature checks is reached with a key too.
    if (signAnswer && key && response) {
        std::map<std::string, std::string> listed;
        std::string list;
        for (const auto& [name, value] : response->headerFields) {
            if (name.empty() || name.find(',') != std::string::npos || listed.count(name) != 0) continue;
            listed[name] = value;
            list += (list.empty() ? "" : ",") + name;
        }
        response->headerFields.emplace_back("x-sb-auth-headers", list);
        response->headerFields.emplace_back("x-sb-auth", std::get<2>(Http::authenticate(listed, key->view())));
        if (body) response->headerFields.emplace_back("x-sb-payload-sha256", toHex(sha256(*body)));
    }

    (void)Http::decodeSrvError(body);

    switch (type) {
        case 0: run<Server_GenericConfirmation>(std::move(body), response, error, answerType, key, variant); break;
        case 1: run<Server_UsersSessions>(std::move(body), response, error, answerType, key, variant); break;
        case 2: run<Server_UserProfile>(std::move(body), response, error, answerType, key, variant); break;
        case 3: run<Server_P1_Answer>(std::move(body), response, error, answerType, key, variant); break;
        case 4: run<PeerShareData>(std::move(body), response, error, answerType, key, variant); break;
        case 5: run<Server_DirectoryInformations>(std::move(body), response, error, answerType, key, variant); break;
        case 6: run<Bytes>(std::move(body), response, error, answerType, key, variant); break;
        case 7: run<Server_SendBlockAnswer>(std::move(body), response, error, answerType, key, variant); break;
        case 8: run<Server_RecvPrepareAnswer>(std::move(body), response, error, answerType, key, variant); break;
        default: run<Server_AddTrustConfirmation>(std::move(body), response, error, answerType, key, variant); break;
    }
    return 0;
}
