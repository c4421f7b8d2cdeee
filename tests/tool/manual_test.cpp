// pcxtool's manual page and bash completion: the page renders without a
// warning, and both name every option each command's help lists (the help
// texts being the source).
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "tool_harness.h"

namespace tool_test {
namespace {

const std::string kManPage = std::string(PCXTOOL_SOURCE_DIR) + "/tools/pcxtool/pcxtool.1";
const std::string kCompletion = std::string(PCXTOOL_SOURCE_DIR) + "/tools/pcxtool/pcxtool.bash-completion";
const char *const kCommands[] = {"info", "decode", "encode", "pack", "unpack", "check", "repair"};

// The options a command's help lists: every "--word" and "-v".
std::set<std::string> help_options(const std::string &command) {
    const std::string help = run_pcxtool({command, "--help"}).out;
    std::set<std::string> options;
    for (size_t at = help.find('-'); at != std::string::npos; at = help.find('-', at + 1)) {
        if (at > 0 && help[at - 1] != ' ' && help[at - 1] != '[') {
            continue;
        }
        size_t stop = at + 1;
        while (stop < help.size() && (std::isalnum(static_cast<unsigned char>(help[stop])) || help[stop] == '-')) {
            ++stop;
        }
        const std::string option = help.substr(at, stop - at);
        if (option.size() > 1 && option != "--help" && std::isalpha(static_cast<unsigned char>(option.back()))) {
            options.insert(option);
        }
    }
    return options;
}

TEST(ManPage, RendersWithoutWarnings) {
    if (!program_exists("groff")) {
        GTEST_SKIP() << "groff is not installed";
    }
    const RunResult run = run_program({"groff", "-man", "-ww", "-z", kManPage});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
}

TEST(ManPage, EachCommandsSectionNamesItsOptions) {
    std::ifstream in(kManPage);
    std::stringstream text;
    text << in.rdbuf();
    std::string page = text.str();
    for (size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at)) {
        page.replace(at, 2, "-");
    }
    for (const std::string command : kCommands) {
        const size_t start = page.find("\n.SS \"" + command + " ");
        ASSERT_NE(start, std::string::npos) << command;
        size_t end = start + 1;
        do { // a command's section may have several headings
            end = page.find("\n.S", end + 1);
        } while (end != std::string::npos && page.compare(end, 7 + command.size(), "\n.SS \"" + command + " ") == 0);
        const std::string section = page.substr(start, end - start);
        for (const std::string &option : help_options(command)) {
            EXPECT_NE(section.find(option), std::string::npos) << command << ": " << option << " not in the man page";
        }
    }
}

// The words completion offers at the end of `line`.
std::set<std::string> completions(const std::string &line) {
    const std::string script = "source '" + kCompletion +
                               "'; read -ra COMP_WORDS <<< \"$1\"; [[ $1 == *' ' ]] && COMP_WORDS+=(''); "
                               "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pcxtool; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const RunResult run = run_program({"bash", "-c", script, "bash", line});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::set<std::string> words;
    std::istringstream lines(run.out);
    for (std::string word; std::getline(lines, word);) {
        if (!word.empty()) {
            words.insert(word);
        }
    }
    return words;
}

TEST(Completion, OffersCommandsOptionsAndFormats) {
    struct Case {
        const char *line;
        std::set<std::string> offered;
    };
    const Case cases[] = {
        {"pcxtool de", {"decode"}},
        {"pcxtool help en", {"encode"}},
        {"pcxtool decode --to p", {"png", "pnm", "pbm", "pgm", "ppm", "pam"}},
        {"pcxtool encode --to ", {"pcx", "dcx"}},
        {"pcxtool encode --q", {"--quantize"}},
        {"pcxtool encode --bits 2", {"2", "24"}},
        {"pcxtool check --s", {"--strict"}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(completions(c.line), c.offered) << c.line;
    }
    for (const std::string command : kCommands) {
        EXPECT_FALSE(help_options(command).empty()) << command;
        const std::set<std::string> offered = completions("pcxtool " + command + " -");
        for (const std::string &option : help_options(command)) {
            EXPECT_EQ(offered.count(option), 1u) << command << ": " << option << " not completed";
        }
    }
}

} // namespace
} // namespace tool_test
