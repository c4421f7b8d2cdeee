// The commands of pcxtool. Each takes the arguments after its name, prints
// its results on stdout and returns the exit status; failures are thrown as
// ToolError for main to report.
#pragma once

#include <string>
#include <vector>

namespace pcxtool {

using Args = std::vector<std::string>;

int run_info(const Args &args);
int run_decode(const Args &args);
int run_encode(const Args &args);
int run_pack(const Args &args);
int run_unpack(const Args &args);
int run_check(const Args &args); // check_command.cpp, with their usage texts
int run_repair(const Args &args);
extern const char kCheckUsage[], kRepairUsage[];
int run_migrate(const Args &args); // migrate_command.cpp, with its usage text
extern const char kMigrateUsage[];

// One-line summaries for the overall help, and each command's full help.
struct CommandHelp {
    const char *name;
    const char *summary;
    const char *usage;
    int (*run)(const Args &args);
};
const std::vector<CommandHelp> &command_table();

} // namespace pcxtool
