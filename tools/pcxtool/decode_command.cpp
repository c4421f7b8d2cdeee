#include <atomic>
#include <cctype>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "file_io.h"
#include "input_list.h"
#include "output_formats.h"
#include "output_names.h"
#include "pcx_pages.h"
#include "png_io.h"
#include "pnm_io.h"
#include "tiff_decode.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

std::unique_ptr<RowSink> make_sink(ImageFormat format, PendingFile &file) {
    switch (format) {
    case ImageFormat::Png: return make_png_sink(file);
    case ImageFormat::Pnm: return make_pnm_sink(file, PnmType::Any);
    case ImageFormat::Pbm: return make_pnm_sink(file, PnmType::Pbm);
    case ImageFormat::Pgm: return make_pnm_sink(file, PnmType::Pgm);
    case ImageFormat::Ppm: return make_pnm_sink(file, PnmType::Ppm);
    case ImageFormat::Pam: return make_pnm_sink(file, PnmType::Pam);
    }
    return nullptr;
}

// What decoding one page left behind, for the report in page order.
struct PageOutcome {
    std::string warnings;
    std::string shortfall; // a page kept with lines missing (--partial)
    std::exception_ptr error;
};

// Decodes the pages on two threads, each with a reader of its own and every
// other page, straight into their output files. Only the outcomes wait, and
// they are reported in page order: the warnings of every page before the
// first that failed, then its error, exactly as one thread would. Returns
// the failures of pages kept with lines missing, in page order.
std::vector<std::string> decode_pages_on_two_threads(PcxPages &file, const std::vector<int> &pages,
                                                     const std::vector<std::string> &targets, ImageFormat format,
                                                     OutputBatch &batch) {
    std::vector<PageOutcome> outcomes(pages.size());
    std::mutex batch_lock;
    // Pages after the first that failed are not needed.
    std::atomic<size_t> first_failure{pages.size()};
    auto work = [&](PcxPages *reader, size_t first) {
        std::unique_ptr<PcxPages> own;
        for (size_t k = first; k < pages.size() && k < first_failure.load(); k += 2) {
            try {
                if (reader == nullptr) {
                    own = file.another_reader();
                    reader = own.get();
                }
                PendingFile *output = nullptr;
                {
                    const std::lock_guard<std::mutex> guard(batch_lock);
                    output = &batch.add(targets[k]);
                }
                std::unique_ptr<RowSink> sink = make_sink(format, *output);
                outcomes[k].shortfall = reader->decode_page(pages[k], *sink, &outcomes[k].warnings);
                output->finish(); // a file of many pages must not hold a descriptor per page
            } catch (...) {
                outcomes[k].error = std::current_exception();
                size_t seen = first_failure.load();
                while (k < seen && !first_failure.compare_exchange_weak(seen, k)) {
                }
                return;
            }
        }
    };
    std::thread second(work, nullptr, size_t{1});
    work(&file, 0);
    second.join();
    std::vector<std::string> shortfalls;
    for (const PageOutcome &outcome : outcomes) {
        std::fputs(outcome.warnings.c_str(), stderr);
        if (outcome.error) {
            std::rethrow_exception(outcome.error);
        }
        if (!outcome.shortfall.empty()) {
            shortfalls.push_back(outcome.shortfall);
        }
    }
    return shortfalls;
}

PnmType pnm_type(ImageFormat format) {
    return format == ImageFormat::Pbm   ? PnmType::Pbm
           : format == ImageFormat::Pgm ? PnmType::Pgm
           : format == ImageFormat::Ppm ? PnmType::Ppm
           : format == ImageFormat::Pam ? PnmType::Pam
                                        : PnmType::Any;
}

// Decodes one large page into a PNM file as two parts side by side: this
// thread the first rows (with the header), a second thread of the layer's
// the rest, written at their place in the file. Returns what decode_page
// returns.
std::string decode_page_in_two_parts(PcxPages &file, int page, int32_t split, PendingFile &output, PnmType type) {
    const std::unique_ptr<RowSink> first = make_pnm_sink(output, type);
    const std::unique_ptr<RowSink> later = make_pnm_part_sink(output, type, split);
    return file.decode_page(page, *first, nullptr, later.get(), split);
}

// Where a page goes to its file in two parts, or 0: a large page of rows
// that any part can write, to a file (not standard output), on a machine
// with a second core.
int32_t two_parts_split(PcxPages &file, int page, ImageFormat format, bool to_stdout) {
    if (to_stdout || format == ImageFormat::Png) {
        return 0;
    }
    const iffpcx_page_info info = file.check_page(page);
    return iffpcx_second_part(&info, 0);
}

} // namespace

namespace {

// One input's pages and the names they are written under, all checked
// before any page is decoded.
struct DecodeJob {
    std::unique_ptr<PcxPages> file;
    std::vector<int> pages;
    std::vector<std::string> targets;
    std::string pattern;
};

DecodeJob plan_decode(const InputOutput &pair, ImageFormat format, bool one_page, int chosen, uint64_t max_pixels,
                      bool keep_partial) {
    DecodeJob job;
    job.pattern = pair.output;
    const std::string &pattern = job.pattern;
    const bool to_stdout = is_standard_stream(pattern);
    if (!to_stdout) {
        page_output_name(pattern, 0, true); // a bad pattern is a usage error before any work
    }
    job.file = std::make_unique<PcxPages>(pair.input, max_pixels, keep_partial);
    PcxPages &file = *job.file;
    if (one_page) {
        job.pages.push_back(chosen);
    } else {
        for (int page = 0; page < file.page_count(); ++page) {
            job.pages.push_back(page);
        }
    }
    if (to_stdout && format == ImageFormat::Png && job.pages.size() > 1) {
        throw usage_error(file.path() + " has " + std::to_string(job.pages.size()) +
                          " pages and standard output takes one PNG image: pick one with --page N, or write "
                          "PNM (--to pnm), which carries the pages one after another");
    }
    // Every page's header, and every output name, is checked before anything
    // is written.
    for (int page : job.pages) {
        file.check_page(page);
        job.targets.push_back(to_stdout ? pattern
                                        : page_output_name(pattern, page, !one_page && file.page_count() > 1));
        check_output_target(job.targets.back());
    }
    return job;
}

// Decodes a job's pages into the batch; `written` gets the lines -v prints,
// `shortfalls` the failures of pages kept with lines missing, in page order.
void run_decode_job(DecodeJob &job, ImageFormat format, OutputBatch &batch, std::vector<std::string> &written,
                    std::vector<std::string> &shortfalls) {
    PcxPages &file = *job.file;
    const std::vector<int> &pages = job.pages;
    const std::vector<std::string> &targets = job.targets;
    const bool to_stdout = is_standard_stream(job.pattern);
    // Two pages named alike are refused when the second is reached, after
    // the first was decoded, and standard output takes the pages one after
    // another: one thread keeps those orders.
    const bool distinct = std::set<std::string>(targets.begin(), targets.end()).size() == targets.size();
    if (!to_stdout && pages.size() > 1 && distinct && std::thread::hardware_concurrency() > 1) {
        const std::vector<std::string> kept = decode_pages_on_two_threads(file, pages, targets, format, batch);
        shortfalls.insert(shortfalls.end(), kept.begin(), kept.end());
        for (size_t i = 0; i < pages.size(); ++i) {
            written.push_back(targets[i] + ": page " + std::to_string(pages[i]));
        }
        return;
    }
    PendingFile *const shared_stdout = to_stdout ? &batch.add(job.pattern) : nullptr;
    for (size_t i = 0; i < pages.size(); ++i) {
        PendingFile &output = to_stdout ? *shared_stdout : batch.add(targets[i]);
        std::string shortfall;
        const int32_t split =
            pages.size() == 1 ? two_parts_split(file, pages[i], format, to_stdout || output.in_one_pass()) : 0;
        if (split > 0) {
            shortfall = decode_page_in_two_parts(file, pages[i], split, output, pnm_type(format));
        } else {
            std::unique_ptr<RowSink> sink = make_sink(format, output);
            shortfall = file.decode_page(pages[i], *sink);
        }
        output.finish(); // a file of many pages must not hold a descriptor per page
        written.push_back(output.target() + ": page " + std::to_string(pages[i]));
        if (!shortfall.empty()) {
            shortfalls.push_back(shortfall);
        }
    }
}

} // namespace

int run_decode(const Args &args) {
    const ParsedArgs parsed = parse_args(args, {{"--page", true},
                                                {"--to", true},
                                                {"--max-pixels", true},
                                                {"--partial", false},
                                                {"--out-dir", true},
                                                {"--compress", true},
                                                kVerbose,
                                                kVerboseLong});
    if (parsed.help) {
        std::fputs(command_table()[1].usage, stdout);
        return kExitOk;
    }
    const bool one_output = !parsed.has("--out-dir") && parsed.positionals.size() == 2;
    if (wants_tiff(parsed, one_output ? parsed.positionals[1] : "")) {
        if (!one_output) {
            throw usage_error("decode to TIFF takes one IN and one OUT (every page goes into one TIFF file)");
        }
        return decode_to_tiff(parsed);
    }
    const bool to_given = parsed.has("--to");
    const ImageFormat asked = to_given ? format_from_word(parsed.options.at("--to"), "--to") : ImageFormat::Png;
    const std::vector<InputOutput> pairs = inputs_and_outputs(parsed, "decode", format_word(asked), true);
    // Standard output carries PNM unless --to says otherwise, as netpbm
    // pipelines expect; a name that says another format than --to is refused.
    std::vector<ImageFormat> formats;
    for (const InputOutput &pair : pairs) {
        const bool to_stdout = is_standard_stream(pair.output);
        if (to_given) {
            std::string word = format_word(asked);
            for (char &c : word) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            refuse_other_format(pair.output, {word}, "--to asks for " + word);
        }
        formats.push_back(to_given ? asked : to_stdout ? ImageFormat::Pnm : format_from_name(pair.output));
    }
    const bool one_page = parsed.has("--page");
    const int chosen = one_page ? parse_integer(parsed.options.at("--page"), 0, 65534, "--page") : 0;
    const uint64_t max_pixels = max_pixels_option(parsed);

    std::vector<DecodeJob> jobs;
    for (size_t i = 0; i < pairs.size(); ++i) {
        jobs.push_back(plan_decode(pairs[i], formats[i], one_page, chosen, max_pixels, parsed.has("--partial")));
    }
    OutputBatch batch;
    std::vector<std::string> written;
    std::vector<std::string> shortfalls; // pages kept with lines missing, in page order
    for (size_t i = 0; i < jobs.size(); ++i) {
        run_decode_job(jobs[i], formats[i], batch, written, shortfalls);
    }
    batch.commit_all();
    for (const std::string &line : written) {
        report(parsed, line);
    }
    // Pages kept with lines missing are written, and still a failure.
    for (const std::string &shortfall : shortfalls) {
        std::fprintf(stderr, "pcxtool: decode: %s\n", shortfall.c_str());
    }
    return shortfalls.empty() ? kExitOk : kExitBadInput;
}

} // namespace pcxtool
