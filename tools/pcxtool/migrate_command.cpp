// pcxtool migrate: converts every PCX and DCX file of a tree into TIFF or
// PNG under a mirrored tree, verifies each output and records every file.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "migrate_file.h"
#include "migrate_manifest.h"
#include "tiff_decode.h"
#include "tool_error.h"

namespace pcxtool {

const char kMigrateUsage[] = "usage: pcxtool migrate [--to tiff|png] [--jobs N] [--manifest FILE] [--shard K/N]\n"
                             "                       [--compress C] [--max-pixels N] SRC DST\n"
                             "\n"
                             "Converts every PCX and DCX file under SRC, recognised by its content whatever\n"
                             "its name, into the same path under DST with .tif added (every page in one\n"
                             "TIFF file), or with --to png .png added (a DCX file's pages as NAME.pN.png).\n"
                             "Each output is decoded again and compared with its source, pixel for pixel\n"
                             "and resolution, before it takes its name; nothing is overwritten (an output\n"
                             "that stands there already is kept when it holds the same pages). Other files\n"
                             "are recorded as skipped; a file that fails is recorded and the run goes on.\n"
                             "\n"
                             "The manifest (default DST/migrate.jsonl) gets one JSON line per file as it\n"
                             "completes: source, size, sha256, format, format_id, verdict, pages, width,\n"
                             "height, dpi, outputs [{path, sha256}], verified, status (converted, failed or\n"
                             "skipped), error. Run again with the same manifest, files converted (or\n"
                             "skipped) before whose size and sha256 are unchanged are passed over.\n"
                             "\n"
                             "  --to FORMAT     tiff (default) or png\n"
                             "  --jobs N        files converted side by side (default: the cores available)\n"
                             "  --manifest F    the manifest's path\n"
                             "  --shard K/N     only files K, K+N, K+2N, ... (K from 1) of SRC's files in\n"
                             "                  name order, so that N machines share one tree\n"
                             "  --compress C    TIFF: none, lzw, deflate or g4 (default: g4 for bilevel\n"
                             "                  pages, deflate for others)\n"
                             "  --max-pixels N  refuse pages of more than N pixels (default 268435456)\n"
                             "\n"
                             "On a terminal a progress line shows the files, pages, bytes, rate and time\n"
                             "left. Exit status 0 when every PCX and DCX file converted and verified.\n";

namespace {

namespace fs = std::filesystem;

struct Shard {
    size_t index = 0; // from 0
    size_t count = 1;
};

Shard parse_shard(const std::string &text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) {
        throw usage_error("--shard takes K/N, not '" + text + "'");
    }
    const uint64_t count = parse_count(text.substr(slash + 1), 1, 1000000, "--shard's N");
    const uint64_t index = parse_count(text.substr(0, slash), 1, count, "--shard's K");
    return {static_cast<size_t>(index - 1), static_cast<size_t>(count)};
}

unsigned available_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

fs::path canonical_or_empty(const fs::path &path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path, error);
    return error ? fs::path() : canonical;
}

// SRC's regular files (links are not followed), relative to SRC, in name
// order; DST and the manifest are left out when they lie inside SRC.
std::vector<std::string> list_files(const std::string &src, const fs::path &dst, const fs::path &manifest) {
    std::vector<std::string> files;
    std::error_code error;
    if (!fs::is_directory(src, error)) {
        throw input_error(src + ": not a folder");
    }
    fs::recursive_directory_iterator it(src, fs::directory_options::skip_permission_denied, error);
    if (error) {
        throw input_error(src + ": cannot read: " + error.message());
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) {
            throw input_error(src + ": cannot read: " + error.message());
        }
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_directory(status)) {
            if (!dst.empty() && canonical_or_empty(it->path()) == dst) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (!fs::is_regular_file(status) || (!manifest.empty() && canonical_or_empty(it->path()) == manifest)) {
            continue;
        }
        files.push_back(it->path().lexically_relative(src).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Counts for the progress line and the summary.
struct Tally {
    std::atomic<size_t> done{0}, converted{0}, failed{0}, skipped{0}, resumed{0};
    std::atomic<uint64_t> pages{0}, bytes{0};
};

std::string duration(double seconds) {
    const auto s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

class Progress {
  public:
    Progress(size_t total, const Tally &tally)
        : total_(total), tally_(tally), on_terminal_(isatty(STDERR_FILENO) != 0), start_(Clock::now()) {}

    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    // Redraws the line at most five times a second.
    void update(bool last = false) {
        if (!on_terminal_) {
            return;
        }
        const std::lock_guard<std::mutex> guard(mutex_);
        const double now = seconds();
        if (!last && now - shown_ < 0.2) {
            return;
        }
        shown_ = now;
        const size_t done = tally_.done.load();
        const double rate = now > 0 ? double(done) / now : 0;
        const std::string left = rate > 0 ? duration(double(total_ - done) / rate) : "?";
        std::fprintf(stderr, "\r\033[Kmigrate: %zu/%zu files, %llu pages, %.1f MB, %.1f files/s, %s left", done, total_,
                     static_cast<unsigned long long>(tally_.pages.load()), double(tally_.bytes.load()) / 1e6, rate,
                     left.c_str());
        if (last) {
            std::fputc('\n', stderr);
        }
        std::fflush(stderr);
    }

  private:
    using Clock = std::chrono::steady_clock;
    size_t total_;
    const Tally &tally_;
    bool on_terminal_;
    Clock::time_point start_;
    double shown_ = -1;
    std::mutex mutex_;
};

} // namespace

int run_migrate(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--to", true},
                                                {"--jobs", true},
                                                {"--manifest", true},
                                                {"--shard", true},
                                                {"--compress", true},
                                                {"--max-pixels", true}});
    if (parsed.help) {
        std::fputs(kMigrateUsage, stdout);
        return kExitOk;
    }
    if (parsed.positionals.size() != 2) {
        throw usage_error("migrate needs SRC and DST");
    }
    const std::string src = parsed.positionals[0];
    const std::string dst = parsed.positionals[1];
    MigrateSettings settings;
    const std::string to = parsed.has("--to") ? parsed.options.at("--to") : "tiff";
    if (to != "tiff" && to != "png") {
        throw usage_error("--to takes tiff or png, not '" + to + "'");
    }
    settings.png = to == "png";
    if (settings.png && parsed.has("--compress")) {
        throw usage_error("--compress applies to TIFF output");
    }
    settings.tiff_compression = tiff_compression_option(parsed);
    settings.max_pixels = max_pixels_option(parsed);
    const unsigned jobs = parsed.has("--jobs")
                              ? static_cast<unsigned>(parse_integer(parsed.options.at("--jobs"), 1, 1024, "--jobs"))
                              : available_cores();
    const Shard shard = parsed.has("--shard") ? parse_shard(parsed.options.at("--shard")) : Shard{};
    const std::string manifest_path =
        parsed.has("--manifest") ? parsed.options.at("--manifest") : (fs::path(dst) / "migrate.jsonl").string();

    std::error_code error;
    fs::create_directories(dst, error);
    if (!fs::is_directory(dst, error)) {
        throw input_error(dst + ": cannot create the output folder");
    }
    const std::vector<std::string> all = list_files(src, canonical_or_empty(dst), canonical_or_empty(manifest_path));
    std::vector<std::string> files;
    for (size_t k = shard.index; k < all.size(); k += shard.count) {
        files.push_back(all[k]);
    }
    const ConvertedFiles converted = read_manifest(manifest_path);
    ManifestWriter manifest(manifest_path);

    Tally tally;
    Progress progress(files.size(), tally);
    std::atomic<size_t> next{0};
    std::mutex failure_mutex;
    std::string failure; // a manifest that cannot be written stops the run
    auto work = [&] {
        std::vector<uint8_t> buffer;
        for (size_t k = next++; k < files.size(); k = next++) {
            const std::string source = (fs::path(src) / files[k]).string();
            const std::string base = (fs::path(dst) / files[k]).string();
            MigrateOutcome outcome = migrate_file(source, base, settings, converted, buffer);
            const MigrateRecord &record = outcome.record;
            try {
                if (!outcome.resumed) {
                    manifest.append(record);
                }
            } catch (const ToolError &stop) {
                const std::lock_guard<std::mutex> guard(failure_mutex);
                failure = stop.what();
                next = files.size();
                return;
            }
            if (outcome.resumed) {
                ++tally.resumed;
            } else if (record.status == "converted") {
                ++tally.converted;
                tally.pages += static_cast<uint64_t>(record.pages);
            } else if (record.status == "skipped") {
                ++tally.skipped;
            } else {
                ++tally.failed;
            }
            tally.bytes += record.size;
            ++tally.done;
            progress.update();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned j = 1; j < std::min<size_t>(jobs, files.size()); ++j) {
        workers.emplace_back(work);
    }
    work();
    for (std::thread &worker : workers) {
        worker.join();
    }
    progress.update(true);
    if (!failure.empty()) {
        throw input_error(failure);
    }
    manifest.sync();
    const double seconds = progress.seconds();
    std::fprintf(stderr,
                 "migrate: %zu files: %zu converted and verified, %zu done before, %zu skipped (not PCX or "
                 "DCX), %zu failed; %llu pages in %.1f s (%.1f files/s)\n",
                 files.size(), tally.converted.load(), tally.resumed.load(), tally.skipped.load(), tally.failed.load(),
                 static_cast<unsigned long long>(tally.pages.load()), seconds,
                 seconds > 0 ? double(files.size()) / seconds : 0.0);
    return tally.failed == 0 ? kExitOk : kExitBadInput;
}

} // namespace pcxtool
