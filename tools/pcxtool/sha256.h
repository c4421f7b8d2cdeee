// SHA-256 digests for migrate's manifest, through OpenSSL's libcrypto.
#pragma once

#include <string>

#include "byte_view.h"

namespace pcxtool {

// The digest of the bytes as 64 lowercase hex digits.
std::string sha256_hex(ByteView bytes);

} // namespace pcxtool
