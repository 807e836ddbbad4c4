#pragma once

// A biometric check with a scripted answer, for the windows that start one.

#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "app/utils/BiometryProvider.h"

namespace apptest {

// Offers `support` and answers every check with `reply`, from a thread of
// its own as a platform's check would. Set the script on the main thread
// between checks.
class FakeBiometryProvider : public quorvel::BiometryProvider {
public:
    quorvel::BiometrySupport support = quorvel::BiometrySupport::touchID;
    std::optional<quorvel::BiometryError> reply;

    int supportAsked = 0;
    int evaluations = 0;
    std::string lastReason;

    quorvel::BiometrySupport supported() override {
        ++supportAsked;
        return support;
    }

    void evaluate(const std::string& reason, quorvel::BiometryReply answer) override {
        ++evaluations;
        lastReason = reason;
        std::thread platform([answer = std::move(answer), outcome = reply] { answer(outcome); });
        platform.join();
    }
};

}  // namespace apptest
