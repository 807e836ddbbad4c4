#include "app/Extensions/SecretText.h"

#include <QByteArray>

#include <algorithm>
#include <string_view>

namespace quorvel {

ostrelcomm::SecretBytes secretOf(const QString& password) {
    QByteArray utf8 = password.toUtf8();
    auto secret =
        ostrelcomm::SecretBytes::fromText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    std::fill(utf8.begin(), utf8.end(), '\0');
    return secret;
}

QString textOf(const ostrelcomm::SecretBytes& password) {
    const auto view = password.textView();
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

}  // namespace quorvel
