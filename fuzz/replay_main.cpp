// Runs a fuzz target's entry on kept inputs without libFuzzer, so every seed
// and every input that once failed stays a test of the ordinary suite.
// Arguments are files or folders (every regular file in them, in name order);
// a missing folder counts as empty.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::filesystem::path> inputs_in(const std::filesystem::path &path) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        for (const auto &entry : std::filesystem::directory_iterator(path, error))
            if (entry.is_regular_file(error) && entry.path().filename().string()[0] != '.')
                found.push_back(entry.path());
        std::sort(found.begin(), found.end());
    } else if (std::filesystem::is_regular_file(path, error)) {
        found.push_back(path);
    }
    return found;
}

} // namespace

int main(int argc, char **argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto &path : inputs_in(argv[i])) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (!in.eof() && in.fail()) {
                std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
                return 1;
            }
            std::fprintf(stderr, "%s\n", path.string().c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
