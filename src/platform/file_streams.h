// The stream callbacks used when the host supplies none: named files.
#pragma once

#include "iffpcx.h"

namespace iff {

// open takes a NUL-terminated file name. Flags: 0x0002 read and write,
// 0x0100 create (replacing an existing file), otherwise the file must exist.
const IFFStreamOps &file_stream_ops();

} // namespace iff
