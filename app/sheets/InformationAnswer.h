#pragma once

#include <string_view>

#include "app/utils/EngineBridge.h"

namespace quorvel {

// What a sheet that asked the fast engine for an item's information, under
// its own requester tag, makes of one "getFileInfo" or
// "queryRemoteDirectoryContent" it hears: the checks in the order they are
// made, the first that fails naming the answer. Each sheet words the faults
// its own way.
//
// Failed jobs carry no tag, so a failure of any requester's job reads as a
// fault of the answer the sheet waits for; an answer without a tag is taken.
enum class InformationAnswer {
    // "Started": the job runs; nothing to take yet.
    started,
    // "Result" missing or not a text.
    badResultType,
    // A word other than "Received", a failure included.
    badResult,
    // "CustomData" missing, or not of the kind the notification carries.
    badCustomData,
    // Another requester's answer: not the sheet's.
    otherRequester,
    // No "fileInfo" or "dirInfo" of its type.
    badPayload,
    // The sheet's answer; the event's data holds it.
    received,
};

InformationAnswer readInformationAnswer(const FileInfoEvent& event, std::string_view source);
InformationAnswer readInformationAnswer(const DirectoryContentEvent& event, std::string_view source);

}  // namespace quorvel
