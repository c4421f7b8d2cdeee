// What an iffpcx_output is: a path's file written beside it and renamed when
// complete, memory, a caller's write callback (fed from memory at the end),
// or a caller's file that takes bytes at any offset.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "iffpcx_image.h"
#include "write/pcx_output.h"

namespace image {

enum class OutputKind { Path, Memory, Writer, Placed };

} // namespace image

struct iffpcx_output {
    image::OutputKind kind = image::OutputKind::Memory;
    std::string name;
    std::string path;                        // Path: the target
    std::string temporary;                   // Path: the file written, renamed at finish
    std::unique_ptr<image::PlacedFile> file; // Path and Placed
    iffpcx_write_fn write = nullptr;         // Writer
    void *context = nullptr;
    std::unique_ptr<image::PcxOutput> pcx; // the file being coded, or coded
    std::vector<uint8_t> whole;            // bytes written whole (a DCX file) for Memory and Writer
    bool used = false;
    bool finished = false;
};

namespace image {

// The output's PCX stream for one encode; an output takes one file.
PcxOutput &start_pcx(iffpcx_output &output);
// Writes a whole file's pieces, in order (a DCX file).
void write_whole(iffpcx_output &output, const std::vector<ByteView> &pieces);

} // namespace image
