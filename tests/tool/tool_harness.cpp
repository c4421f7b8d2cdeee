#include "tool_harness.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <png.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tool_test {

namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// In a sanitizer build a report ends the process with status 1, which must
// not pass for the status of bad input.
void check_for_sanitizer_reports(const RunResult &result) {
    for (const char *report : {"Sanitizer", "runtime error:"}) {
        if (result.err.find(report) != std::string::npos) {
            ADD_FAILURE() << "pcxtool reported a memory or undefined-behaviour fault:\n" << result.err;
        }
    }
}

} // namespace

RunResult run_program(const std::vector<std::string> &argv, const std::string &stdin_path) {
    TempDir capture;
    const std::string out_path = capture / "stdout";
    const std::string err_path = capture / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);
    // A spawned process's peak resident size starts from this process's
    // peak (Linux takes the spawning process's at exec): reset that to what
    // this process holds now, so that the child's own figure shows.
    if (std::FILE *clear_refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", clear_refs);
        std::fclose(clear_refs);
    }
    pid_t pid = 0;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    RunResult result;
    if (spawned != 0) {
        result.err = "cannot start " + argv[0];
        return result;
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.max_rss_kb = usage.ru_maxrss;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

RunResult run_pcxtool(const std::vector<std::string> &args) {
    std::vector<std::string> argv{PCXTOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = run_program(argv);
    check_for_sanitizer_reports(result);
    return result;
}

RunResult run_shell(const std::string &script) {
    RunResult result = run_program({"/bin/sh", "-c", script, "sh", PCXTOOL_PATH});
    check_for_sanitizer_reports(result);
    return result;
}

int start_pcxtool(const std::vector<std::string> &args, const std::string &messages) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal_number);
    }
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> argv{PCXTOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> pointers;
    for (const std::string &arg : argv) {
        pointers.push_back(const_cast<char *>(arg.c_str()));
    }
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, pointers[0], &actions, &attributes, pointers.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

bool program_exists(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pcxtool-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<uint8_t> read_bytes(const std::string &path) {
    const std::string text = slurp(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Image make_image(Content content, int width, int height) {
    Image image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Diagonal bands and a product term, so runs of every length and
            // every colour show up.
            const int t = x * 7 + y * 3 + (x * y) % 11;
            uint8_t r = 0, g = 0, b = 0;
            const Content here = content != Content::ManyThenTrueColour ? content
                                 : y < height / 2                       ? Content::ManyColours
                                                                        : Content::TrueColour;
            switch (here) {
            case Content::BlackWhite: r = g = b = (t / 5) % 2 ? 255 : 0; break;
            case Content::Gray: r = g = b = static_cast<uint8_t>(t * 5); break;
            case Content::TwoColours:
                r = (t / 4) % 2 ? 200 : 20;
                g = 90;
                b = (t / 4) % 2 ? 30 : 220;
                break;
            case Content::TenColours:
                r = static_cast<uint8_t>(t % 10 * 25);
                g = static_cast<uint8_t>(255 - t % 10 * 20);
                b = static_cast<uint8_t>(t % 10 * 13 + 7);
                break;
            case Content::ManyColours:
                r = static_cast<uint8_t>(t % 200);
                g = static_cast<uint8_t>(t % 200 * 3 % 256);
                b = static_cast<uint8_t>(255 - t % 200);
                break;
            case Content::TrueColour:
                r = static_cast<uint8_t>(x * 255 / std::max(width - 1, 1));
                g = static_cast<uint8_t>(y * 255 / std::max(height - 1, 1));
                b = static_cast<uint8_t>(t);
                break;
            case Content::ManyThenTrueColour: break;
            }
            image.rgb.insert(image.rgb.end(), {r, g, b});
        }
    }
    return image;
}

bool is_gray(const Image &image) {
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        if (image.rgb[i] != image.rgb[i + 1] || image.rgb[i] != image.rgb[i + 2]) {
            return false;
        }
    }
    return true;
}

Image read_ppm(const std::string &path) {
    const std::vector<uint8_t> bytes = read_bytes(path);
    Image image;
    int maxval = 0;
    int consumed = 0;
    const std::string head(bytes.begin(), bytes.begin() + static_cast<long>(std::min<size_t>(bytes.size(), 64)));
    if (std::sscanf(head.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &maxval, &consumed) != 3 ||
        maxval != 255) {
        return Image{};
    }
    const size_t start = static_cast<size_t>(consumed) + 1;
    const size_t size = 3 * static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    if (bytes.size() != start + size) {
        return Image{};
    }
    image.rgb.assign(bytes.begin() + static_cast<long>(start), bytes.end());
    return image;
}

void write_pnm(const std::string &path, const Image &image, bool plain, int maxval) {
    bool black_white = true;
    for (uint8_t v : image.rgb) {
        black_white = black_white && (v == 0 || v == 255);
    }
    black_white = black_white && is_gray(image) && maxval == 255;
    const bool gray = is_gray(image);
    const int type = black_white ? 1 : gray ? 2 : 3;
    std::string text = "P" + std::to_string(plain ? type : type + 3) + "\n# made by the tests\n" +
                       std::to_string(image.width) + " " + std::to_string(image.height) + "\n" +
                       (black_white ? "" : std::to_string(maxval) + "\n");
    std::vector<uint8_t> bytes(text.begin(), text.end());
    const size_t pixels = image.rgb.size() / 3;
    const size_t channels = gray ? 1 : 3;
    if (black_white && !plain) {
        const size_t stride = (static_cast<size_t>(image.width) + 7) / 8;
        std::vector<uint8_t> packed(stride * static_cast<size_t>(image.height), 0);
        for (size_t i = 0; i < pixels; ++i) {
            const size_t x = i % static_cast<size_t>(image.width);
            const size_t y = i / static_cast<size_t>(image.width);
            if (image.rgb[3 * i] == 0) {
                packed[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        bytes.insert(bytes.end(), packed.begin(), packed.end());
    } else {
        for (size_t i = 0; i < pixels; ++i) {
            for (size_t c = 0; c < channels; ++c) {
                const unsigned value = image.rgb[3 * i + c] * static_cast<unsigned>(maxval) / 255;
                std::string sample;
                if (plain) {
                    sample = black_white ? (value == 0 ? "1" : "0") : std::to_string(value) + " ";
                } else if (maxval > 255) {
                    sample = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
                } else {
                    sample = {static_cast<char>(value)};
                }
                bytes.insert(bytes.end(), sample.begin(), sample.end());
            }
            if (plain && (i + 1) % 16 == 0) {
                bytes.push_back('\n');
            }
        }
    }
    write_bytes(path, bytes);
}

PngFile read_png(const std::string &path) {
    PngFile file;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return file;
    }
    png.format = PNG_FORMAT_RGB;
    file.image.width = static_cast<int>(png.width);
    file.image.height = static_cast<int>(png.height);
    file.image.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, file.image.rgb.data(), 0, nullptr)) {
        return PngFile{};
    }
    // The colour type and depth from the IHDR chunk: bytes 24 and 25.
    const std::vector<uint8_t> bytes = read_bytes(path);
    file.bit_depth = bytes[24];
    file.color_type = bytes[25];
    return file;
}

void write_png(const std::string &path, const Image &image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> colormap;
    std::map<uint32_t, uint8_t> indices;
    for (size_t i = 0; i < image.rgb.size() && indices.size() <= 256; i += 3) {
        const uint32_t key = static_cast<uint32_t>(image.rgb[i] << 16 | image.rgb[i + 1] << 8 | image.rgb[i + 2]);
        if (indices.emplace(key, static_cast<uint8_t>(indices.size())).second && indices.size() <= 256) {
            colormap.insert(colormap.end(), {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]});
        }
    }
    if (is_gray(image)) {
        png.format = PNG_FORMAT_GRAY;
        for (size_t i = 0; i < image.rgb.size(); i += 3) {
            pixels.push_back(image.rgb[i]);
        }
    } else if (indices.size() <= 256) {
        png.format = PNG_FORMAT_RGB_COLORMAP;
        png.colormap_entries = static_cast<png_uint_32>(indices.size());
        for (size_t i = 0; i < image.rgb.size(); i += 3) {
            pixels.push_back(
                indices[static_cast<uint32_t>(image.rgb[i] << 16 | image.rgb[i + 1] << 8 | image.rgb[i + 2])]);
        }
    } else {
        png.format = PNG_FORMAT_RGB;
        pixels = image.rgb;
    }
    png_image_write_to_file(&png, path.c_str(), 0, pixels.data(), 0, colormap.empty() ? nullptr : colormap.data());
}

// The integer fields of each page object: pages are the lines that begin
// with {"page": and a field is "name": followed by an integer.
std::vector<std::map<std::string, long>> info_pages(const std::string &json) {
    std::vector<std::map<std::string, long>> pages;
    size_t at = 0;
    while ((at = json.find("{\"page\": ", at)) != std::string::npos) {
        const size_t end = json.find('\n', at);
        const std::string text = json.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::map<std::string, long> page;
        for (size_t q = text.find('"'); q != std::string::npos; q = text.find('"', q)) {
            const size_t close = text.find('"', q + 1);
            if (close == std::string::npos) break;
            const std::string name = text.substr(q + 1, close - q - 1);
            size_t value = close + 1;
            if (text.compare(value, 2, ": ") == 0) {
                value += 2;
                size_t digits = value + (value < text.size() && text[value] == '-' ? 1 : 0);
                const size_t first_digit = digits;
                while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
                if (digits > first_digit) page[name] = std::stol(text.substr(value, digits - value));
            }
            q = close + 1;
        }
        pages.push_back(page);
        at = end == std::string::npos ? json.size() : end;
    }
    return pages;
}

} // namespace tool_test
