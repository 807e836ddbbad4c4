#include "app/utils/ShowCommError.h"

#include <QString>

#include <utility>

#include "app/Extensions/Localize.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "http/HTTPError.h"
#include "platform/SystemLog.h"

namespace quorvel {

void showCommError(const ostrelcomm::Notification& notification, std::function<void()> completionHandler) {
    if (const auto* error = ostrelcomm::userInfoValue<ostrelcomm::HTTPError>(notification.userInfo, "httpError")) {
        Appwise::shared().alertPresenter().present(QString::fromStdString(localize(kCommunicationErrorTitle)),
                                                   QString::fromStdString(error->errDescr));
    } else {
        ostrelcomm::systemLog(kInvalidCommErrorLog);
    }
    if (auto done = std::move(completionHandler)) done();
}

}  // namespace quorvel
