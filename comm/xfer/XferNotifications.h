#pragma once

// The transfer area's notifications, posted on the engine's own center. Each
// carries "Result" (std::string), "httpError" (HTTPError or NullObject) and
// "CustomData".

namespace ostrelcomm::xfer {

// The job that uploads one file: its block reports and its end. Every upload
// of the engine posts it, whoever queued the job.
inline constexpr char kLocalFileUploadNotification[] = "localFileUpload";

}  // namespace ostrelcomm::xfer
