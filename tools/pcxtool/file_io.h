// Inputs read without copying large files, and outputs that appear only once
// they are complete. The name "-" stands for standard input or output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "byte_output.h"
#include "byte_view.h"

namespace pcxtool {

// Stream positions travel through the library as 32-bit values, so no PCX or
// DCX file can be larger; images to encode are held to the same size.
constexpr uint64_t kMaxInputBytes = 0x7FFFFFFF;

inline bool is_standard_stream(const std::string &name) {
    return name == "-";
}

// Whether bytes may begin a file of the kind a command reads; it sees at
// least the first 8 bytes, or the whole input when it is shorter.
using StartCheck = bool (*)(ByteView start);

// One input's bytes. A regular file is sized with fstat before anything is
// read and then mapped, not copied; standard input and other streams (pipes,
// /dev/stdin) are read in pieces, up to kMaxInputBytes. A stream whose start
// fails `plausible_start` is read no further: the reader refuses those first
// bytes as it would the whole, and an endless stream costs nothing. Every
// input is remembered, so that no output of the same run can replace it.
// Failures are input errors that name the file and the reason.
class InputFile {
  public:
    explicit InputFile(const std::string &path, StartCheck plausible_start = nullptr);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // The path, or "standard input": how messages name this input.
    const std::string &name() const { return name_; }
    ByteView bytes() const { return bytes_; }

  private:
    std::string name_;
    void *mapped_slot_ = nullptr; // where the handler of SIGBUS finds the mapping
    void *mapping_ = nullptr;
    size_t mapping_size_ = 0;
    std::vector<uint8_t> read_;
    ByteView bytes_;
};

// One output file under construction: the bytes go to a temporary file in
// the target's folder (so the final rename stays on one file system) and
// reach the target name only through commit. Dropped uncommitted, the
// temporary file is removed; it is removed as well when the program is ended
// by SIGINT, SIGTERM or SIGHUP. The target "-" writes standard output
// directly, and so does a target that exists and is not a regular file (a
// device such as /dev/null, a FIFO, /dev/stdout): renaming a file over it
// would replace the device. A target that is one of the run's inputs (by
// name or through a link) is refused before anything is written.
class PendingFile : public ByteOutput {
  public:
    explicit PendingFile(const std::string &target);
    ~PendingFile() override;
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    // The path, or "standard output": how messages name this output.
    const std::string &target() const override { return target_; }
    std::FILE *stream() { return stream_; }
    // Written in order as the bytes come, never at an offset nor renamed:
    // standard output, or a target that is not a regular file.
    bool in_one_pass() const { return to_stdout_ || direct_; }

    void write(const uint8_t *data, size_t size) override;
    // Writes at an offset of the file, leaving write's place where it is, so
    // that another thread may fill a later part of the file meanwhile (not
    // for standard output).
    void write_at(uint64_t offset, const uint8_t *data, size_t size) override;
    // Cuts the file to `size` bytes (not for standard output).
    void truncate(uint64_t size);
    // Flushes and closes the temporary file; write errors surface here.
    // Standard output is flushed and stays open for more.
    void finish();

    // Finishes the file, makes its bytes durable and gives it its name
    // unless a file stands there already (then an input error naming it):
    // for runs that must never replace a file, one output at a time.
    void place_new();

  private:
    friend class OutputBatch;
    // The steps of OutputBatch::commit_all, with the temporaries' lock held.
    // place() moves the finished file to its target, keeping a file that
    // stood there aside; take_back() undoes that, settle() drops the file
    // kept aside.
    void place();
    void take_back();
    // Opens a target that is not a regular file for writing where it is;
    // false for any other target.
    bool open_direct();
    void settle();

    std::string target_;
    std::string temp_path_;
    std::string replaced_path_; // where place() kept the target's former file
    std::FILE *stream_ = nullptr;
    int descriptor_ = -1; // the temporary file's, for write_at from any thread
    bool to_stdout_ = false;
    bool direct_ = false; // a device or FIFO, written where it is
    bool finished_ = false;
    bool committed_ = false;
};

// Several outputs of one command: all are written in full before any of
// them takes its final name, so a failure on page 3 leaves no pages 0 to 2.
class OutputBatch {
  public:
    PendingFile &add(const std::string &target);
    // Gives every output its name, or none: every target is checked first,
    // and a rename that fails still undoes those made before it, putting
    // back the files they replaced.
    void commit_all();

  private:
    std::vector<std::unique_ptr<PendingFile>> files_;
};

void write_whole_file(OutputBatch &batch, const std::string &target, ByteView bytes);

// Writes text to standard output; a failed write is an input error naming
// standard output and the reason.
void write_standard_output(const std::string &text);
// Flushes standard output; any write to it that failed, now or earlier, is
// an input error, so that output lost on a full disk or a broken pipe never
// passes for success.
void finish_standard_output();

// Refuses a target that is one of the inputs read so far (the same path, or
// the same file through a link; for "-", standard output redirected to one),
// or that a file cannot be renamed to: a folder. PendingFile checks this
// itself; a command that writes several files checks every name first, so
// that it refuses before any work.
void check_output_target(const std::string &target);

// Called once at start: an input mapped from a file that another program
// cuts short meanwhile reads as zeros past its new end instead of ending the
// program by SIGBUS, and is remembered as changed.
void survive_changing_inputs();
// The name of an input that changed while it was read, or nullptr.
const char *changed_input();
// Refuses the run's results when an input changed: an input error naming
// it. OutputBatch checks this before it renames anything.
void refuse_changed_input();

// Called once at start, before any other thread exists: SIGINT, SIGTERM and
// SIGHUP (unless the caller ignores them) are then taken by a thread that
// removes every temporary file and ends the program by the same signal.
void remove_temporaries_on_signals();

} // namespace pcxtool
