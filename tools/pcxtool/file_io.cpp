#include "file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "tool_error.h"

namespace pcxtool {

namespace {

const char kStandardInput[] = "standard input";
const char kStandardOutput[] = "standard output";

std::string system_reason() {
    return std::strerror(errno);
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name in the target's folder for mkstemp: hidden, after the target.
std::string hidden_name(const std::string &target) {
    return folder_of(target) + "/." + base_name_of(target) + ".XXXXXX";
}

// A folder at the target would refuse the rename only once the work is done.
void refuse_folder(const std::string &target) {
    struct stat status {};
    if (lstat(target.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        throw input_error(target + ": is a folder; name the output file another way");
    }
}

// mkstemp creates files readable by the owner only; outputs get the usual
// permissions the user's umask allows.
mode_t default_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// The files this run reads, by device and inode, so that an output reached
// through another name or a link is recognised too.
struct KnownInput {
    dev_t device;
    ino_t inode;
    std::string name;
};
std::mutex g_inputs_mutex;
std::vector<KnownInput> g_inputs;

void remember_input(const struct stat &status, const std::string &name) {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    g_inputs.push_back(KnownInput{status.st_dev, status.st_ino, name});
}

void refuse_if_input(const struct stat &status, const std::string &target) {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    for (const KnownInput &input : g_inputs) {
        if (input.device == status.st_dev && input.inode == status.st_ino) {
            const std::string which = input.name == target ? "" : " (the same file as " + input.name + ")";
            throw input_error(target + ": is an input of this command" + which +
                              "; pcxtool does not write over its inputs, name another output");
        }
    }
}

// Temporary files not yet renamed. The signal thread takes the same lock,
// so a file is never created, renamed or removed while it cleans up.
std::mutex g_temporaries_mutex;
std::vector<std::string> g_temporaries;

void forget_temporary(const std::string &path) {
    g_temporaries.erase(std::remove(g_temporaries.begin(), g_temporaries.end(), path), g_temporaries.end());
}

// Reads a stream to its end in pieces; the buffer grows only as bytes arrive.
void read_in_pieces(int fd, const std::string &name, StartCheck plausible_start, std::vector<uint8_t> &bytes) {
    constexpr size_t kStartBytes = 8;
    bool start_checked = plausible_start == nullptr;
    std::vector<uint8_t> piece(size_t{1} << 16);
    for (;;) {
        if (!start_checked && bytes.size() >= kStartBytes) {
            if (!plausible_start(ByteView(bytes))) {
                return;
            }
            start_checked = true;
        }
        const ssize_t got = read(fd, piece.data(), piece.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw input_error(name + ": cannot read: " + system_reason());
        }
        if (got == 0) {
            return;
        }
        if (bytes.size() + static_cast<size_t>(got) > kMaxInputBytes) {
            throw input_error(name + ": more than " + std::to_string(kMaxInputBytes) +
                              " bytes, larger than pcxtool reads (2 GiB, the most a PCX or DCX file can hold)");
        }
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
    }
}

// Closes a descriptor this code opened when the scope ends, however it ends.
struct OwnedDescriptor {
    int fd;
    bool owned;
    ~OwnedDescriptor() {
        if (owned && fd >= 0) {
            close(fd);
        }
    }
};

// The watcher thread: waits for one of `watched`, removes every temporary
// file and ends the program by that signal.
void take_signals(sigset_t watched) {
    int signal_number = 0;
    while (sigwait(&watched, &signal_number) != 0) {
    }
    std::lock_guard<std::mutex> lock(g_temporaries_mutex); // held until the end
    for (const std::string &path : g_temporaries) {
        unlink(path.c_str());
    }
    std::signal(signal_number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
}

// Mapped inputs, for the handler of SIGBUS, which a mapped file cut short
// by another program raises at the first access past its new end. Slots are
// taken and given back with atomic operations only, so the handler may read
// them at any time.
struct MappedInput {
    std::atomic<uintptr_t> start{0}; // 0: a free slot
    std::atomic<size_t> size{0};
    std::atomic<const char *> name{nullptr};
};
constexpr size_t kMappedSlots = 64;
MappedInput g_mapped[kMappedSlots];
size_t g_page_size = 4096;
std::atomic<bool> g_naming_change{false}; // taken by the first handler that finds a change
std::atomic<bool> g_input_changed{false}; // set once that handler named the input
char g_changed_name[512];

MappedInput *take_mapped_slot(const void *start, size_t size, const char *name) {
    for (MappedInput &slot : g_mapped) {
        uintptr_t expected = 0;
        if (slot.start.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(start))) {
            slot.name.store(name);
            slot.size.store(size);
            return &slot;
        }
    }
    return nullptr;
}

// Puts zero pages where the lost ones were, from the faulting page to the
// mapping's end, so that the work goes on to an orderly failure; a fault in
// no mapped input takes the default action.
void on_bus_error(int, siginfo_t *info, void *) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (MappedInput &slot : g_mapped) {
        const uintptr_t start = slot.start.load();
        const size_t size = slot.size.load();
        if (start == 0 || address < start || address - start >= size) {
            continue;
        }
        const uintptr_t page = address & ~(uintptr_t{g_page_size} - 1);
        if (mmap(reinterpret_cast<void *>(page), start + size - page, PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
            break;
        }
        if (!g_naming_change.exchange(true)) {
            const char *name = slot.name.load();
            for (size_t k = 0; name != nullptr && name[k] != '\0' && k + 1 < sizeof g_changed_name; ++k) {
                g_changed_name[k] = name[k];
            }
            g_input_changed.store(true);
        }
        return;
    }
    signal(SIGBUS, SIG_DFL); // the faulting access runs again and ends the program
}

} // namespace

InputFile::InputFile(const std::string &path, StartCheck plausible_start)
    : name_(is_standard_stream(path) ? kStandardInput : path) {
    const bool standard = is_standard_stream(path);
    const OwnedDescriptor input{standard ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC), !standard};
    if (input.fd < 0) {
        throw input_error(name_ + ": cannot open: " + system_reason());
    }
    struct stat status {};
    if (fstat(input.fd, &status) != 0) {
        throw input_error(name_ + ": cannot read: " + system_reason());
    }
    if (S_ISDIR(status.st_mode)) {
        throw input_error(name_ + ": cannot read: it is a folder");
    }
    remember_input(status, name_);
    // A regular file of size 0 may still hold bytes (files under /proc): it
    // is read like a stream.
    if (!S_ISREG(status.st_mode) || status.st_size == 0) {
        read_in_pieces(input.fd, name_, plausible_start, read_);
        bytes_ = ByteView(read_);
        return;
    }
    if (static_cast<uint64_t>(status.st_size) > kMaxInputBytes) {
        throw input_error(name_ + ": " + std::to_string(status.st_size) +
                          " bytes, larger than pcxtool reads (2 GiB, the most a PCX or DCX file can hold)");
    }
    // Standard input redirected from a file may already be past its start.
    const off_t start = standard ? std::max<off_t>(lseek(input.fd, 0, SEEK_CUR), 0) : 0;
    const auto size = static_cast<size_t>(status.st_size);
    void *mapping = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, input.fd, 0);
    if (mapping == MAP_FAILED) {
        read_in_pieces(input.fd, name_, plausible_start, read_); // file systems that cannot map
        bytes_ = ByteView(read_);
        return;
    }
    mapped_slot_ = take_mapped_slot(mapping, size, name_.c_str());
    if (mapped_slot_ == nullptr) { // more mapped inputs than slots: read this one
        munmap(mapping, size);
        read_in_pieces(input.fd, name_, plausible_start, read_);
        bytes_ = ByteView(read_);
        return;
    }
    mapping_ = mapping;
    mapping_size_ = size;
    const size_t skip = std::min(static_cast<size_t>(start), size);
    bytes_ = ByteView(static_cast<const uint8_t *>(mapping) + skip, size - skip);
}

InputFile::~InputFile() {
    if (mapping_ != nullptr) {
        auto *slot = static_cast<MappedInput *>(mapped_slot_);
        slot->size.store(0);
        slot->start.store(0);
        munmap(mapping_, mapping_size_);
    }
}

void check_output_target(const std::string &target) {
    struct stat status {};
    if (is_standard_stream(target)) {
        if (fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode)) {
            refuse_if_input(status, kStandardOutput);
        }
        return;
    }
    if (stat(target.c_str(), &status) == 0) {
        refuse_if_input(status, target);
    }
    refuse_folder(target);
}

PendingFile::PendingFile(const std::string &target) : target_(target) {
    check_output_target(target);
    if (is_standard_stream(target)) {
        target_ = kStandardOutput;
        to_stdout_ = true;
        stream_ = stdout;
        return;
    }
    if (target_.empty() || target_.back() == '/') {
        throw usage_error("'" + target_ + "' names a folder, not an output file");
    }
    if (open_direct()) {
        return;
    }
    std::string pattern = hidden_name(target_);
    std::lock_guard<std::mutex> lock(g_temporaries_mutex);
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        throw input_error(target_ + ": cannot create the output in folder '" + folder_of(target_) +
                          "': " + system_reason());
    }
    temp_path_ = pattern;
    g_temporaries.push_back(temp_path_);
    fchmod(fd, default_file_mode());
    descriptor_ = fd;
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const std::string reason = system_reason();
        close(fd);
        unlink(temp_path_.c_str());
        forget_temporary(temp_path_);
        throw input_error(target_ + ": cannot write: " + reason);
    }
}

// A name that stands for an open descriptor (/dev/stdout, /dev/fd/1,
// /proc/self/fd/1, or a link to one) reaches a regular file too when the
// descriptor is redirected to one; renaming a file over it would replace the
// link, not write the file.
bool names_a_descriptor(const std::string &target) {
    struct stat status {};
    if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
        return false;
    }
    char link[64] = {};
    const ssize_t size = readlink(target.c_str(), link, sizeof link - 1);
    if (size > 0 && std::strncmp(link, "/proc/", 6) == 0) {
        return true;
    }
    char *folder = realpath(folder_of(target).c_str(), nullptr);
    const bool in_proc = folder != nullptr && std::strncmp(folder, "/proc/", 6) == 0;
    std::free(folder);
    return in_proc;
}

bool PendingFile::open_direct() {
    struct stat status {};
    if (stat(target_.c_str(), &status) != 0 || S_ISDIR(status.st_mode) ||
        (S_ISREG(status.st_mode) && !names_a_descriptor(target_))) {
        return false;
    }
    const int fd = open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const std::string reason = system_reason();
        close(fd);
        throw input_error(target_ + ": cannot write: " + reason);
    }
    descriptor_ = fd;
    direct_ = true;
    return true;
}

PendingFile::~PendingFile() {
    if (to_stdout_) {
        return;
    }
    if (direct_) {
        if (stream_ != nullptr) {
            std::fclose(stream_);
        }
        return;
    }
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_) {
        std::lock_guard<std::mutex> lock(g_temporaries_mutex);
        unlink(temp_path_.c_str());
        forget_temporary(temp_path_);
    }
}

void PendingFile::write(const uint8_t *data, size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stream_) != size) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
}

void PendingFile::write_at(uint64_t offset, const uint8_t *data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(descriptor_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw input_error(target_ +
                              ": cannot write: " + (n < 0 ? system_reason() : std::string("nothing written")));
        }
        done += static_cast<size_t>(n);
    }
}

void PendingFile::truncate(uint64_t size) {
    if (ftruncate(descriptor_, static_cast<off_t>(size)) != 0) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
}

void PendingFile::finish() {
    if (to_stdout_) {
        finish_standard_output();
        return;
    }
    if (finished_) {
        return;
    }
    std::FILE *stream = stream_;
    stream_ = nullptr;
    const bool failed = std::ferror(stream) != 0;
    if (std::fclose(stream) != 0 || failed) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
    finished_ = true;
}

void PendingFile::place_new() {
    if (std::fflush(stream_) != 0 || fdatasync(descriptor_) != 0) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
    finish();
    std::lock_guard<std::mutex> lock(g_temporaries_mutex);
    // A link, unlike a rename, fails where the name is taken.
    if (link(temp_path_.c_str(), target_.c_str()) != 0) {
        throw input_error(target_ + (errno == EEXIST ? ": exists already" : ": cannot write: " + system_reason()));
    }
    unlink(temp_path_.c_str());
    forget_temporary(temp_path_);
    committed_ = true;
}

void PendingFile::place() {
    if (to_stdout_ || direct_) {
        return;
    }
    // A file at the target is linked aside under a free name of the folder
    // first (moved, where links are not had), so that undoing puts it back.
    struct stat status {};
    if (lstat(target_.c_str(), &status) == 0) {
        std::string aside = hidden_name(target_);
        const int fd = mkstemp(aside.data());
        if (fd < 0) {
            throw input_error(target_ + ": cannot put the output in place: " + system_reason());
        }
        close(fd);
        unlink(aside.c_str());
        if (link(target_.c_str(), aside.c_str()) != 0 && rename(target_.c_str(), aside.c_str()) != 0) {
            throw input_error(target_ + ": cannot put the output in place: " + system_reason());
        }
        replaced_path_ = aside;
    }
    if (rename(temp_path_.c_str(), target_.c_str()) != 0) {
        const std::string reason = system_reason();
        take_back();
        throw input_error(target_ + ": cannot put the output in place: " + reason);
    }
    committed_ = true;
}

void PendingFile::take_back() {
    if (!replaced_path_.empty()) {
        rename(replaced_path_.c_str(), target_.c_str());
        replaced_path_.clear();
    } else if (committed_) {
        unlink(target_.c_str());
    }
    committed_ = false;
}

void PendingFile::settle() {
    if (!replaced_path_.empty()) {
        unlink(replaced_path_.c_str());
        replaced_path_.clear();
    }
    forget_temporary(temp_path_);
}

PendingFile &OutputBatch::add(const std::string &target) {
    for (const auto &file : files_) {
        if (file->target() == target || (is_standard_stream(target) && file->target() == kStandardOutput)) {
            throw usage_error("two outputs would both be named '" + target + "'");
        }
    }
    files_.push_back(std::make_unique<PendingFile>(target));
    return *files_.back();
}

void OutputBatch::commit_all() {
    for (auto &file : files_) {
        file->finish();
    }
    // Held throughout, so that a signal's clean-up comes before the first
    // rename or after the last.
    std::lock_guard<std::mutex> lock(g_temporaries_mutex);
    refuse_changed_input();
    for (auto &file : files_) {
        if (!file->in_one_pass()) {
            refuse_folder(file->target_);
        }
    }
    size_t placed = 0;
    try {
        for (; placed < files_.size(); ++placed) {
            files_[placed]->place();
        }
    } catch (...) {
        while (placed > 0) {
            files_[--placed]->take_back();
        }
        throw;
    }
    for (auto &file : files_) {
        file->settle();
    }
}

void write_whole_file(OutputBatch &batch, const std::string &target, ByteView bytes) {
    PendingFile &file = batch.add(target);
    file.write(bytes.data(), bytes.size());
    file.finish();
}

void survive_changing_inputs() {
    g_page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}

const char *changed_input() {
    return g_input_changed.load() ? g_changed_name : nullptr;
}

void refuse_changed_input() {
    if (const char *name = changed_input()) {
        throw input_error(std::string(name) + ": the input changed while it was read");
    }
}

void write_standard_output(const std::string &text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        throw input_error(std::string(kStandardOutput) + ": cannot write: " + system_reason());
    }
}

void finish_standard_output() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        // A write that failed earlier leaves the flag, not its errno.
        throw input_error(std::string(kStandardOutput) +
                          ": cannot write: " + (errno != 0 ? system_reason() : "an earlier write failed"));
    }
}

void remove_temporaries_on_signals() {
    sigset_t watched;
    sigemptyset(&watched);
    bool any = false;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        // A signal the caller ignores (nohup, background jobs) stays ignored.
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&watched, signal_number);
            any = true;
        }
    }
    // Blocked here, in every thread started later, and taken only by the
    // watcher, which cleans up in an ordinary thread's context.
    if (!any || pthread_sigmask(SIG_BLOCK, &watched, nullptr) != 0) {
        return;
    }
    try {
        std::thread(take_signals, watched).detach();
    } catch (const std::system_error &) {
        pthread_sigmask(SIG_UNBLOCK, &watched, nullptr); // no watcher: the signals keep their usual effect
    }
}

} // namespace pcxtool
