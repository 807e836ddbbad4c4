#pragma once

#include <QString>

#include "crypto/SecretBytes.h"

namespace quorvel {

// A password as typed in a field, as the engines take it. The field's own
// copy is Qt's; the UTF-8 copy made on the way is wiped.
ostrelcomm::SecretBytes secretOf(const QString& password);

// A stored password, to be shown in a field.
QString textOf(const ostrelcomm::SecretBytes& password);

}  // namespace quorvel
