// The C interface around the checks: reports, JSON, limits, paths, refusals,
// and the one table of identifiers that docs/check.md shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "check/check_support.h"
#include "image/check/rules.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

std::vector<uint8_t> small_file() {
    test::PcxLayout l;
    l.bits = 1;
    l.x_max = 7;
    l.bytes_per_line = 1; // odd: one warning
    return test::pcx_file(l, {0x5A});
}

std::string json_of(const std::vector<uint8_t> &file, const char *name) {
    iffpcx_report *report = nullptr;
    EXPECT_EQ(iffpcx_check_memory(file.data(), file.size(), name, nullptr, &report, nullptr), IFFPCX_OK);
    const size_t size = iffpcx_report_json(report, nullptr, 0);
    std::string json(size + 1, '\0');
    EXPECT_EQ(iffpcx_report_json(report, &json[0], json.size()), size);
    json.resize(size);
    // A buffer too small is cut and still ends with a zero.
    char cut[8];
    EXPECT_EQ(iffpcx_report_json(report, cut, sizeof cut), size);
    EXPECT_EQ(std::string(cut), json.substr(0, 7));
    iffpcx_report_free(report);
    return json;
}

TEST(CheckApi, JsonCarriesTheReport) {
    const std::string json = json_of(small_file(), "a \"quoted\"\nname.pcx");
    EXPECT_EQ(json.rfind("{\"file\": \"a \\\"quoted\\\"\\u000aname.pcx\", \"format\": \"pcx\", \"format_id\": "
                         "\"fmt/90\", \"version\": 5, \"verdict\": \"valid\", \"pages\": [{\"page\": 0, ",
                         0),
              0u)
        << json;
    EXPECT_NE(json.find("\"findings\": [{\"id\": \"PCX-BPL-ODD\", \"severity\": \"warning\", \"page\": 0, "
                        "\"offset\": 66, \"message\": \""),
              std::string::npos)
        << json;
    EXPECT_EQ(json.back(), '}');
}

TEST(CheckApi, ReportNamesAndCounts) {
    iffpcx_report *report = nullptr;
    const auto file = test::dcx_file({small_file(), small_file()});
    ASSERT_EQ(iffpcx_check_memory(file.data(), file.size(), nullptr, nullptr, &report, nullptr), IFFPCX_OK);
    EXPECT_STREQ(report->file, "memory");
    EXPECT_STREQ(report->format, "dcx");
    EXPECT_STREQ(report->format_id, "x-fmt/348");
    EXPECT_EQ(report->page_count, 2u);
    EXPECT_EQ(report->warnings, 2u);
    EXPECT_EQ(report->pages[1].offset, 16u + small_file().size());
    EXPECT_EQ(report->pages[1].data_end, report->pages[1].offset + 129);
    EXPECT_EQ(report->findings[1].page, 1);
    iffpcx_report_free(report);
    EXPECT_STREQ(iffpcx_verdict_name(IFFPCX_NOT_WELL_FORMED), "not-well-formed");
    EXPECT_STREQ(iffpcx_severity_name(IFFPCX_SEVERITY_FATAL), "fatal");
}

TEST(CheckApi, LimitsAndArgumentsAreRefusedWithReasons) {
    const auto file = test::dcx_file({small_file(), small_file(), small_file()});
    iffpcx_check_options options{};
    iffpcx_report *report = nullptr;
    iffpcx_error error{};
    options.limits.max_pages = 2;
    EXPECT_EQ(iffpcx_check_memory(file.data(), file.size(), "x.dcx", &options, &report, &error), IFFPCX_ERR_LIMIT);
    EXPECT_EQ(report, nullptr);
    EXPECT_STREQ(error.message, "x.dcx: more than 2 pages, the limit set");
    options.limits.max_pages = 0;
    options.limits.max_file_bytes = 100;
    EXPECT_EQ(iffpcx_check_memory(file.data(), file.size(), "x.dcx", &options, &report, &error), IFFPCX_ERR_LIMIT);
    EXPECT_EQ(iffpcx_check_memory(nullptr, 5, "x", nullptr, &report, &error), IFFPCX_ERR_ARGUMENT);
    EXPECT_EQ(iffpcx_check_memory(file.data(), file.size(), "x", nullptr, nullptr, nullptr), IFFPCX_ERR_ARGUMENT);
    EXPECT_EQ(iffpcx_check_path("/no/such/file.pcx", nullptr, &report, &error), IFFPCX_ERR_READ);
    iffpcx_repaired *repaired = nullptr;
    options.limits.max_file_bytes = 0;
    options.limits.max_pixels = 7;
    EXPECT_EQ(iffpcx_repair_memory(file.data(), file.size(), "x.dcx", &options, &repaired, &error), IFFPCX_ERR_LIMIT);
    EXPECT_EQ(repaired, nullptr);
    EXPECT_STREQ(error.message, "x.dcx: page 0: cannot repair: more than 7 pixels, the limit set");
    iffpcx_report_free(nullptr);
    iffpcx_repaired_free(nullptr);
}

TEST(CheckApi, PathsInAndOut) {
    const std::string in = testing::TempDir() + "check_api_in_" + std::to_string(getpid()) + ".pcx",
                      out = testing::TempDir() + "check_api_out_" + std::to_string(getpid()) + ".pcx";
    const auto file = small_file();
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), long(file.size()));
    iffpcx_report *report = nullptr;
    ASSERT_EQ(iffpcx_check_path(in.c_str(), nullptr, &report, nullptr), IFFPCX_OK);
    EXPECT_EQ(std::string(report->file), in);
    iffpcx_report_free(report);
    iffpcx_repaired *repaired = nullptr;
    ASSERT_EQ(iffpcx_repair_path(in.c_str(), out.c_str(), nullptr, &repaired, nullptr), IFFPCX_OK);
    EXPECT_EQ(repaired->before->warnings, 1u);
    EXPECT_EQ(test::read_file(out), std::vector<uint8_t>(repaired->data, repaired->data + repaired->size));
    iffpcx_repaired_free(repaired);
    EXPECT_EQ(check_test::judge(test::read_file(out), true).verdict, "valid");
    // A refusal writes nothing.
    std::remove(out.c_str());
    std::ofstream(in, std::ios::binary).write("not a picture", 13);
    iffpcx_error error{};
    EXPECT_EQ(iffpcx_repair_path(in.c_str(), out.c_str(), nullptr, nullptr, &error), IFFPCX_ERR_NOT_PCX);
    EXPECT_NE(std::string(error.message).find("FILE-NOT-PCX"), std::string::npos) << error.message;
    EXPECT_FALSE(std::ifstream(out).good());
    EXPECT_FALSE(std::ifstream(out + ".partial").good());
    std::remove(in.c_str());
}

// docs/check.md's table lists every identifier once, with its severity, and
// no other.
TEST(CheckApi, DocumentedTableMatchesTheRules) {
    std::ifstream doc(std::string(IFFPCX_SOURCE_DIR) + "/docs/check.md");
    std::stringstream text;
    text << doc.rdbuf();
    std::map<std::string, std::string> documented; // identifier -> severity
    std::string line;
    bool in_findings = false;
    while (std::getline(text, line)) {
        if (line.rfind("## ", 0) == 0) in_findings = line == "## Findings";
        if (!in_findings || line.rfind("| `", 0) != 0) continue;
        const size_t id_end = line.find('`', 3);
        const size_t severity_at = line.find("| ", id_end) + 2;
        documented[line.substr(3, id_end - 3)] = line.substr(severity_at, line.find(' ', severity_at) - severity_at);
    }
    size_t count = 0;
    const iffpcx_check::RuleInfo *rules = iffpcx_check::rule_table(&count);
    EXPECT_EQ(documented.size(), count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(size_t(rules[i].rule), i) << rules[i].id; // the table is in the enumeration's order
        EXPECT_EQ(documented[rules[i].id], iffpcx_severity_name(rules[i].severity)) << rules[i].id;
    }
}

} // namespace
