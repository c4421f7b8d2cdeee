// Running pcxtool as a process, and the image files the tests feed it and
// read back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tool_test {

namespace fs = std::filesystem;

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
    long max_rss_kb = 0; // the largest resident size the process reached
    double seconds = 0;  // wall-clock time
};

// Runs pcxtool with `args`; stdout and stderr are captured whole.
RunResult run_pcxtool(const std::vector<std::string> &args);

// Runs any program found on PATH, the same way, with standard input from
// `stdin_path`.
RunResult run_program(const std::vector<std::string> &argv, const std::string &stdin_path = "/dev/null");

// Runs a /bin/sh script in which "$1" is pcxtool, checked like run_pcxtool.
RunResult run_shell(const std::string &script);

// Starts pcxtool without waiting, its output discarded, its messages written
// to `messages` and SIGINT, SIGTERM and SIGHUP at their defaults; returns
// its process id.
int start_pcxtool(const std::vector<std::string> &args, const std::string &messages = "/dev/null");
bool program_exists(const std::string &name);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const fs::path &path() const { return path_; }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

std::vector<uint8_t> read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes);

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    bool operator==(const Image &other) const {
        return width == other.width && height == other.height && rgb == other.rgb;
    }
};

// Images whose colours steer the automatic layout.
// ManyThenTrueColour: ManyColours in the top half, TrueColour below.
enum class Content { BlackWhite, Gray, TwoColours, TenColours, ManyColours, TrueColour, ManyThenTrueColour };
Image make_image(Content content, int width, int height);
bool is_gray(const Image &image);

// Raw PPM (P6, maxval 255) as pcxtool and the corpus write them.
Image read_ppm(const std::string &path);
// PNM: raw (P4/P5/P6) or plain (P1/P2/P3) in the type the content allows
// (PBM black and white, PGM gray, else PPM); maxval 65535 writes 16-bit samples.
void write_pnm(const std::string &path, const Image &image, bool plain, int maxval = 255);

struct PngFile {
    Image image;
    int color_type = -1; // PNG_COLOR_TYPE_*
    int bit_depth = 0;
};
PngFile read_png(const std::string &path);
// Gray images as gray, up to 256 colours indexed, others RGB.
void write_png(const std::string &path, const Image &image);

// The page objects of `pcxtool info --json`: every integer field by name.
std::vector<std::map<std::string, long>> info_pages(const std::string &json);

} // namespace tool_test
