#include "app/utils/ShowCommError.h"

#include <QString>

#include <utility>

#include "app/Extensions/Localize.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "platform/SystemLog.h"

namespace quorvel {

void showCommError(const ostrelcomm::Notification& notification, std::function<void()> completionHandler) {
    const auto* error = ostrelcomm::userInfoValue<ostrelcomm::HTTPError>(notification.userInfo, "httpError");
    showCommError(error ? std::optional<ostrelcomm::HTTPError>(*error) : std::nullopt, std::move(completionHandler));
}

void showCommError(const std::optional<ostrelcomm::HTTPError>& httpError, std::function<void()> completionHandler) {
    if (httpError) {
        Appwise::shared().alertPresenter().present(QString::fromStdString(localize(kCommunicationErrorTitle)),
                                                   QString::fromStdString(httpError->errDescr));
    } else {
        ostrelcomm::systemLog(kInvalidCommErrorLog);
    }
    if (auto done = std::move(completionHandler)) done();
}

}  // namespace quorvel
