#include "pcx/rle_windows.h"

namespace iff {

WindowDecoders window_decoders(CpuLevel level) {
    switch (level) {
#ifdef IFF_X86_VECTORS
#ifdef IFF_X86_64_VECTORS
    case CpuLevel::avx512: return {decode_windows_64, decode_windows_16};
#endif
    case CpuLevel::avx2: return {decode_windows_32, decode_windows_16};
    case CpuLevel::ssse3: return {decode_windows_16, nullptr};
#endif
    default: return {decode_windows_portable, nullptr};
    }
}

} // namespace iff
