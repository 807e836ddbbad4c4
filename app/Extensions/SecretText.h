#pragma once

#include <QString>

#include "crypto/SecretBytes.h"

namespace quorvel {

// A password typed in a field, as the engines take it (UTF-8). The field's
// own copy is Qt's; the UTF-8 copy made on the way is wiped.
ostrelcomm::SecretBytes secretOf(const QString& password);

// A stored password, to put back in a field.
QString textOf(const ostrelcomm::SecretBytes& password);

}  // namespace quorvel
