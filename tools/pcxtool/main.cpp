// pcxtool: converts PCX and DCX images to and from PNG and PNM, describes
// them, and assembles and splits DCX files, all through the iffpcx library.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "commands.h"
#include "file_io.h"
#include "iffpcx.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

const char kOverview[] = "usage: pcxtool COMMAND [OPTIONS] ARGS...      pcxtool --version\n"
                         "\n"
                         "Reads and writes PCX images and multi-page DCX files.\n"
                         "\n"
                         "commands:\n";

const char kOverviewEnd[] = "\n"
                            "'pcxtool help COMMAND' or 'pcxtool COMMAND --help' describes a command. Pages\n"
                            "are numbered from 0. An input named '-' is standard input, an output named\n"
                            "'-' standard output. An output whose name says another format than the\n"
                            "command writes is refused. Messages go to stderr; -v adds a line for each\n"
                            "output written. -V is --version.\n"
                            "Exit status: 0 success, 1 bad input (the message names the file, the page\n"
                            "and the reason), 2 bad usage. Outputs appear only once complete.\n";

const char kInfoUsage[] = "usage: pcxtool info [--json] FILE...\n"
                          "\n"
                          "Describes every page of each PCX or DCX file: size, colour class, bits per\n"
                          "pixel as planes x bits per plane, header version, resolution and number of\n"
                          "palette entries, and the file's page count. A FILE of '-' reads standard\n"
                          "input.\n"
                          "\n"
                          "  --json   one JSON array with an object per file\n";

const char kDecodeUsage[] = "usage: pcxtool decode [--page N] [--to FORMAT] [--max-pixels N] [--partial] [-v]\n"
                            "                      [--compress C] IN OUT\n"
                            "       pcxtool decode [OPTIONS] --out-dir DIR IN...\n"
                            "\n"
                            "Converts a PCX or DCX file to PNG, PNM or TIFF, by the extension of OUT:\n"
                            "  .png              bilevel pages 1-bit, gray pages 8-bit gray, palette pages\n"
                            "                    indexed with their palette, 24-bit pages RGB, 32-bit\n"
                            "                    pages RGBA\n"
                            "  .pnm              PBM for bilevel, PGM for gray, PAM (RGB_ALPHA) for 32-bit,\n"
                            "                    PPM for other pages\n"
                            "  .pbm .pgm .ppm    that type (PPM takes any page without alpha)\n"
                            "  .pam              PAM for every page: BLACKANDWHITE, GRAYSCALE, RGB or\n"
                            "                    RGB_ALPHA\n"
                            "  .tif .tiff        every page in one TIFF file: bilevel pages Group 4, others\n"
                            "                    Deflate; resolution kept (see --compress)\n"
                            "\n"
                            "Every page is written unless --page picks one. In OUT, %d stands for the page\n"
                            "number (%03d pads it to three digits, %% is a '%'); without it a file of\n"
                            "several pages gets .p<N> before the extension (out.png: out.p0.png, ...).\n"
                            "IN '-' reads standard input. OUT '-' writes standard output, as PNM unless\n"
                            "--to says otherwise; PNM pages follow one another there, PNG takes one page.\n"
                            "With --out-dir, each IN is written into DIR under its own name, with the\n"
                            "extension --to names (png by default); all outputs appear, or none.\n"
                            "\n"
                            "  --page N         write page N only (from 0)\n"
                            "  --to FORMAT      png, pnm, pbm, pgm, ppm, pam or tiff; OUT's extension, if\n"
                            "                   it names a format, must agree\n"
                            "  --compress C     TIFF: none, lzw, deflate or g4 (bilevel pages only)\n"
                            "  --out-dir DIR    write each IN into the folder DIR\n"
                            "  --max-pixels N   refuse pages of more than N pixels (default 268435456,\n"
                            "                   16384 x 16384; 0: no limit)\n"
                            "  --partial        keep a page whose data end early, its missing lines as\n"
                            "                   zeros (index 0); the exit status is still 1\n"
                            "  -v, --verbose    name each output on stderr\n";

const char kEncodeUsage[] = "usage: pcxtool encode [--bits B] [--dpi N[xM]] [--align-palette] [--max-pixels N]\n"
                            "                      [--quantize [--colors N] [--dither] | --threshold N]\n"
                            "                      [--to pcx|dcx] [-v] IN OUT.pcx\n"
                            "       pcxtool encode [OPTIONS] --out-dir DIR IN...\n"
                            "\n"
                            "Converts a PNG, PNM or PAM image to PCX. The layout follows the image's\n"
                            "colours: black and white only: 1 bit; only grays: 8-bit grayscale; up to 16\n"
                            "colours: 4 bit planes; up to 256 colours: 8 bits with a 256-colour palette;\n"
                            "else 24-bit RGB. Translucent PNG and PAM pixels are blended onto white. A PNM\n"
                            "stream of several images becomes the pages of a DCX file when OUT is named\n"
                            ".dcx (or --to dcx), and is refused otherwise. IN '-' reads standard input,\n"
                            "OUT '-' writes standard output. With --out-dir, each IN is written into DIR\n"
                            "under its own name, as .pcx (or .dcx with --to dcx); all appear, or none.\n"
                            "\n"
                            "  --bits B          write B bits per pixel (1, 2, 3, 4, 8 or 24) if the\n"
                            "                    image's colours fit; 1 bit holds black and white only\n"
                            "  --quantize        reduce the colours to fit --bits (8 if not given) with\n"
                            "                    libimagequant\n"
                            "  --colors N        with --quantize: at most N colours (2 to 2^B)\n"
                            "  --dither          with --quantize: diffuse the error over neighbours\n"
                            "  --threshold N     1 bit: black where a pixel's luma is below N (1 to 255),\n"
                            "                    white elsewhere\n"
                            "  --dpi N[xM]       resolution in dots per inch (default: the PNG's own, or 100)\n"
                            "  --align-palette   end a 256-colour file on a multiple of 32 bytes, with a\n"
                            "                    gap before the palette block, as the library places it;\n"
                            "                    by default the block follows the image data, which\n"
                            "                    readers that read front to back need\n"
                            "  --to FORMAT       pcx or dcx, whatever OUT is named\n"
                            "  --out-dir DIR     write each IN into the folder DIR\n"
                            "  --max-pixels N    refuse images of more than N pixels (default 268435456;\n"
                            "                    0: no limit)\n"
                            "  -v, --verbose     describe the output on stderr\n";

const char kPackUsage[] = "usage: pcxtool pack [-v] OUT.dcx IN...\n"
                          "\n"
                          "Assembles a DCX file from PCX files (and the pages of DCX files), in order.\n"
                          "An IN of '-' reads standard input, OUT '-' writes standard output.\n"
                          "\n"
                          "  -v, --verbose   name the output and its page count on stderr\n";

const char kUnpackUsage[] = "usage: pcxtool unpack [-v] IN.dcx PREFIX\n"
                            "       pcxtool unpack [-v] IN.dcx TEMPLATE\n"
                            "\n"
                            "Writes page N of a DCX file, byte for byte, as PREFIX<N>.pcx (from 0), or\n"
                            "under TEMPLATE, a name in which %d stands for the page number (%03d pads it\n"
                            "to three digits, %% is a '%'): page-%03d.pcx. IN '-' reads standard input.\n"
                            "\n"
                            "  -v, --verbose   name each output on stderr\n";

} // namespace

const std::vector<CommandHelp> &command_table() {
    static const std::vector<CommandHelp> table = {
        {"info", "describe the pages of PCX and DCX files", kInfoUsage, run_info},
        {"decode", "convert PCX or DCX pages to PNG or PNM", kDecodeUsage, run_decode},
        {"encode", "convert a PNG or PNM image to PCX", kEncodeUsage, run_encode},
        {"pack", "assemble a DCX file from PCX files", kPackUsage, run_pack},
        {"unpack", "split a DCX file into PCX files", kUnpackUsage, run_unpack},
        {"check", "judge PCX and DCX files: valid, not-valid, not-well-formed", kCheckUsage, run_check},
        {"repair", "rewrite a PCX or DCX file so that it checks valid", kRepairUsage, run_repair},
        {"migrate", "convert a tree of PCX and DCX files to TIFF or PNG, verified", kMigrateUsage, run_migrate},
    };
    return table;
}

namespace {

void print_overview(std::FILE *to) {
    std::fputs(kOverview, to);
    for (const CommandHelp &command : command_table()) {
        std::fprintf(to, "  %-8s %s\n", command.name, command.summary);
    }
    std::fputs(kOverviewEnd, to);
}

// What went to standard output must have arrived, and come from inputs that
// stayed as they were: `who` names the command in the message.
int with_output_checked(const std::string &who, int status) {
    try {
        refuse_changed_input();
        finish_standard_output();
    } catch (const ToolError &error) {
        std::fprintf(stderr, "pcxtool: %s%s\n", who.c_str(), error.what());
        return kExitBadInput;
    }
    return status;
}

const CommandHelp *find_command(const std::string &name) {
    for (const CommandHelp &candidate : command_table()) {
        if (name == candidate.name) {
            return &candidate;
        }
    }
    return nullptr;
}

// pcxtool help COMMAND: the command's own help, as COMMAND --help prints it.
int print_command_help(const std::string &name) {
    const CommandHelp *command = find_command(name);
    if (command == nullptr) {
        std::fprintf(stderr, "pcxtool: help: unknown command '%s'\n\n", name.c_str());
        print_overview(stderr);
        return kExitUsage;
    }
    std::fputs(command->usage, stdout);
    return with_output_checked("help: ", kExitOk);
}

} // namespace

} // namespace pcxtool

int main(int argc, char **argv) {
    using namespace pcxtool;
    if (argc < 2) {
        print_overview(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "help" && argc > 2) {
        return print_command_help(argv[2]);
    }
    if (name == "--help" || name == "-h" || name == "help") {
        print_overview(stdout);
        return with_output_checked("", kExitOk);
    }
    if (name == "--version" || name == "-V") {
        std::printf("pcxtool (iffpcx %s)\n", IFFPCX_VERSION_STRING);
        return with_output_checked("", kExitOk);
    }
    const CommandHelp *command = find_command(name);
    if (command == nullptr) {
        std::fprintf(stderr, "pcxtool: unknown command '%s'\n\n", name.c_str());
        print_overview(stderr);
        return kExitUsage;
    }
    remove_temporaries_on_signals();
    survive_changing_inputs();
    const std::string who = std::string(command->name) + ": ";
    std::string failure;
    int status = kExitBadInput;
    try {
        return with_output_checked(who, command->run(Args(argv + 2, argv + argc)));
    } catch (const ToolError &error) {
        failure = error.what();
        status = error.exit_status();
    } catch (const std::bad_alloc &) {
        failure = "out of memory";
    } catch (const std::exception &error) {
        failure = error.what();
    }
    // Whatever failed, an input that changed meanwhile is the reason.
    if (changed_input() != nullptr) {
        return with_output_checked(who, kExitBadInput);
    }
    std::fprintf(stderr, "pcxtool: %s%s\n", who.c_str(), failure.c_str());
    if (status == kExitUsage) {
        std::fprintf(stderr, "(see 'pcxtool %s --help')\n", command->name);
    }
    return status;
}
