// quarnel-inspect end to end: images quarnel could never have written, the
// disc inside an image, a full disk during extraction, file names that would
// drive a terminal, and the progress line on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/end_to_end.h"
#include "support/expected_image.h"
#include "support/image_bytes.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr std::size_t kSignature = 92;
constexpr std::size_t kImage = 320;

class Inspector : public EndToEnd {
protected:
    // Converts `source` into name.bin and gives that image's bytes.
    Bytes convert(const Bytes& source, const std::string& name)
    {
        write_file(path(name + ".iso"), source);
        expect_success(quarnel({path(name + ".iso"), path(name + ".bin")}));
        return read_file(path(name + ".bin"));
    }
    static bool has_line(const ProcessResult& result, const std::string& line)
    {
        return result.standard_output.find(line) != std::string::npos;
    }
};

TEST_F(Inspector, FieldsQuarnelNeverWritesAreNamedWithTheirValue)
{
    struct Case {
        std::size_t record;
        std::size_t at;
        int width;  // bytes of a number, or 0 to write `text` there
        std::uint32_t value;
        std::string text;
        std::string description;
    };
    const Case cases[] = {
        {kImage, 94, 2, 2048, "", "image record's block_size is 2048, not 4096"},
        {kSignature, 94, 2, 64, "", "signature record's block_size is 64, not 4096"},
        {kSignature, 24, 4, 64, "", "signature record's payload_length is 64, not 128"},
        {kImage, 24, 4, 1000, "",
         "image record's payload_length is 1000, not a whole number of 2048-byte sectors below 2 GiB"},
        {kImage, 24, 4, 0x80000000, "",
         "image record's payload_length is 2147483648, not a whole number of 2048-byte sectors below 2 GiB"},
        {kImage, 8, 2, 0, "", "image record's fixed_one is 0, not 1"},
        {kSignature, 10, 2, 256, "", "signature record's zero field at 10 is 256, not 0"},
        {kImage, 20, 2, 9, "", "image record's zero field at 20 is 9, not 0"},
        {kImage, 96, 2, 1, "", "image record's zero field at 96 is 1, not 0"},
        {kImage, 94, 2, 0, "", "image record's block_size is 0, not 4096"},
        {kSignature, 12, 0, 0, "HWEW11.2", "signature record's ident_text is \"HWEW11.2\", not \"HWEW11.1\""},
        {kImage, 44, 0, 0, std::string(8, '\0'), "image record's time_text is \"\", not \"21.13.06\""},
        {kImage, 28, 0, 0, "2009.01.01", "image record's date_text is \"2009.01.01\", not \"2008.06.14\""},
        {kSignature, 44, 0, 0, "21.13.07", "signature record's time_text is \"21.13.07\", not \"21.13.06\""},
        {kImage, 60, 0, 0, "OUTPUT", "image record's label_text is \"OUTPUT\", not \"INPUT\""},
        {kImage, 60 + 20, 0, 0, "\x1b[2J",
         "image record's label_text is \"INPUT\\x00\\x00\\x00\\x00\\x00\\x00"
         "\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x1B[2J\", not \"INPUT\""},
    };
    const Bytes valid = convert(random_bytes(10240, 5), "good");
    for (const Case& c : cases) {
        Bytes image = valid;
        if (c.width == 4) {
            put32(image, c.record + c.at, c.value);
        } else if (c.width == 2) {
            put16(image, c.record + c.at, c.value);
        } else {
            std::copy(c.text.begin(), c.text.end(), image.begin() + static_cast<std::ptrdiff_t>(c.record + c.at));
        }
        reseal(image, c.record);
        write_file(path("bad.bin"), image);
        const ProcessResult result = inspect({path("bad.bin"), path("out.iso")});
        EXPECT_EQ(result.exit_status, kFailureStatus) << c.description;
        EXPECT_EQ(result.standard_error, "Error: " + c.description + ".\n");
        EXPECT_TRUE(has_line(result, "\nVerdict: invalid: " + c.description + "\n")) << result.standard_output;
        EXPECT_FALSE(fs::exists(path("out.iso")));
    }
}

TEST_F(Inspector, DiscInsideIsDescribedAndMustNotBeCutShort)
{
    ASSERT_TRUE(make_iso(dir_, path("disc.iso"))) << "genisoimage is needed";
    const Bytes iso = read_file(path("disc.iso"));
    const std::string sectors = std::to_string(iso.size() / 2048);
    const std::string disc_lines = "\nDisc in the image record\n"
                                   "  Volume formats:   ISO 9660, Joliet\n"
                                   "  Volume label:     QUARNEL\n";

    EXPECT_EQ(convert(iso, "whole"), expected_image(iso, Model::Default));
    const ProcessResult whole = inspect({path("whole.bin"), path("whole-back.iso")});
    EXPECT_EQ(read_file(path("whole-back.iso")), iso);
    EXPECT_EQ(whole.exit_status, 0);
    EXPECT_EQ(whole.standard_error, "");
    EXPECT_TRUE(has_line(whole, disc_lines + "  Volume size:      " + sectors +
                                    " sectors\n\nModel: Default\nVerdict: valid modem image\n"))
        << whole.standard_output;

    Bytes padded = iso;
    padded.resize(iso.size() + 5 * 2048, 0);
    convert(padded, "padded");
    const ProcessResult pad = inspect({path("padded.bin"), path("padded-back.iso")});
    EXPECT_EQ(pad.exit_status, 0);
    EXPECT_TRUE(
        has_line(pad, disc_lines + "  Volume size:      " + sectors +
                          " sectors, then 5 sectors of padding\n\nModel: Default\nVerdict: valid modem image\n"))
        << pad.standard_output;
    EXPECT_EQ(read_file(path("padded-back.iso")), padded);

    Bytes cut = iso;
    cut.resize(iso.size() / 2 / 2048 * 2048);
    convert(cut, "cut");
    const ProcessResult short_disc = inspect({path("cut.bin"), path("cut-back.iso")});
    EXPECT_EQ(short_disc.exit_status, kFailureStatus);
    EXPECT_EQ(short_disc.standard_error, "Error: disc volume is larger than the payload, the ISO was cut short.\n");
    EXPECT_TRUE(has_line(short_disc, disc_lines + "  Volume size:      " + sectors +
                                         " sectors, but the payload holds only " + std::to_string(cut.size() / 2048) +
                                         "\n\nModel: Default\nVerdict: invalid: disc volume is larger than the "
                                         "payload, the ISO was cut short\n"))
        << short_disc.standard_output;
    EXPECT_FALSE(fs::exists(path("cut-back.iso")));
}

// /files lists the tree after the disc's section; a tree that cannot be read
// safely is named, the image's verdict unchanged, and fails the run.
TEST_F(Inspector, FilesOptionListsTheTreeOrNamesItsFault)
{
    ASSERT_TRUE(make_iso(dir_, path("disc.iso"))) << "genisoimage is needed";
    Bytes iso = read_file(path("disc.iso"));
    convert(iso, "good");
    const ProcessResult listed = inspect({"/FiLeS", "/files", path("good.bin")});
    EXPECT_EQ(listed.exit_status, 0);
    EXPECT_EQ(listed.standard_error, "");
    const std::string time = R"( +\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )";
    EXPECT_TRUE(std::regex_search(listed.standard_output,
                                  std::regex("Volume size: .*\n\nFiles on the disc \\(Joliet names\\)\n +3000" + time +
                                             "README.TXT\n +2048" + time + "docs/\n +70000" + time +
                                             "docs/DATA.BIN\n\nModel: Default\nVerdict: valid modem image\n$")))
        << listed.standard_output;

    const std::string name = "README.TXT;1";
    const auto record = std::search(iso.begin(), iso.end(), name.begin(), name.end()) - iso.begin() - 33;
    iso[static_cast<std::size_t>(record) + 26] = 1;  // its file unit size: interleaved
    convert(iso, "interleaved");
    const ProcessResult refused =
        inspect({"/files", "/unpack:" + path("not made"), path("interleaved.bin"), path("back.iso")});
    EXPECT_EQ(refused.exit_status, kFailureStatus);
    EXPECT_EQ(refused.standard_error, "Error: disc tree cannot be read safely: a file or folder is interleaved, in "
                                      "the primary tree's root.\n");
    EXPECT_TRUE(has_line(refused, "\nFiles on the disc\n  Unreadable:       a file or folder is interleaved, in the "
                                  "primary tree's root\n\nModel: Default\nVerdict: valid modem image\n"))
        << refused.standard_output;
    EXPECT_EQ(read_file(path("back.iso")), iso);
    EXPECT_FALSE(fs::exists(path("not made")));
}

// /unpack: makes a new folder whole or not at all: a name taken, a write
// that fails midway and an interruption leave nothing of it.
TEST_F(Inspector, UnpackMakesANewFolderOrNothing)
{
    ASSERT_TRUE(make_iso(dir_, path("disc.iso"))) << "genisoimage is needed";
    const Bytes image = convert(read_file(path("disc.iso")), "disc");
    fs::create_directories(dir_ / "work");
    write_file(path("work/taken"), Bytes(1, 'x'));
    ProcessOptions small_files;
    small_files.file_size_limit = 8192;  // README.TXT fits, docs/DATA.BIN does not
    struct Case {
        std::string folder;
        ProcessOptions options;
        std::string error;
    };
    const std::string work = path("work");
    const Case cases[] = {
        {"taken", {}, "Error: \"" + work + "/taken\" exists already; /unpack: makes a new folder.\n"},
        {"taken/", {}, "Error: \"" + work + "/taken/\" exists already; /unpack: makes a new folder.\n"},
        {"small", small_files, "Error: unable to write unpacked folder \"" + work + "/small\".\n"},
        {"missing/out", {}, "Error: unable to create unpacked folder \"" + work + "/missing/out\".\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const ProcessResult failed = inspect({"/unpack:" + work + "/" + c.folder, path("disc.bin")}, c.options);
        EXPECT_EQ(failed.standard_error, c.error);
        EXPECT_EQ(failed.exit_status, kFailureStatus);
        EXPECT_EQ(left_in_work(), std::set<std::string>{"taken"});
    }
    // Under an emulator the stop comes from a watcher outside, some time
    // after the folder shows: its unpacking (many files, one large) must
    // outlast that, or the stop lands where the folder is already renamed.
    fs::create_directories(dir_ / "many");
    for (int i = 0; i < 1500; ++i) {
        write_file(path("many/F" + std::to_string(i) + ".TXT"), Bytes(100, 'm'));
    }
    make_sparse_file(path("many/LARGE.BIN"), std::uintmax_t{32} << 20);
    ASSERT_EQ(run_process({"/usr/bin/genisoimage", "-quiet", "-J", "-o", path("many.iso"), path("many")}).exit_status,
              0);
    const Bytes many = convert(read_file(path("many.iso")), "many");
    const ProcessResult interrupted =
        signal_midway(built_program(QUARNEL_INSPECT_BINARY, {"/unpack:" + work + "/out", path("many.bin")}), SIGINT);
    EXPECT_EQ(interrupted.end_signal, SIGINT);
    EXPECT_EQ(interrupted.standard_error, kInspectInterrupted);
    EXPECT_EQ(left_in_work(), std::set<std::string>{"taken"});
    EXPECT_EQ(read_file(path("disc.bin")), image);
    EXPECT_EQ(read_file(path("many.bin")), many);
}

TEST_F(Inspector, BootableAndUdfDiscsAreNamed)
{
    fs::create_directories(dir_ / "tree");
    write_file(path("tree/boot.img"), random_bytes(2048, 8));
    const ProcessResult boot =
        run_process({"/usr/bin/genisoimage", "-quiet", "-J", "-V", "BOOT DISC", "-b", "boot.img", "-no-emul-boot",
                     "-boot-load-size", "4", "-o", path("boot.iso"), path("tree")});
    ASSERT_EQ(boot.exit_status, 0) << boot.standard_error;
    const ProcessResult udf =
        run_process({"/usr/bin/genisoimage", "-quiet", "-udf", "-V", "UDF DISC", "-o", path("udf.iso"), path("tree")});
    ASSERT_EQ(udf.exit_status, 0) << udf.standard_error;

    convert(read_file(path("boot.iso")), "boot");
    convert(read_file(path("udf.iso")), "udf");
    const ProcessResult boot_report = inspect({path("boot.bin")});
    EXPECT_TRUE(has_line(boot_report, "  Volume formats:   ISO 9660, Joliet, El Torito\n"
                                      "  Volume label:     BOOT DISC\n"))
        << boot_report.standard_output;
    const ProcessResult udf_report = inspect({path("udf.bin")});
    EXPECT_TRUE(has_line(udf_report, "  Volume formats:   ISO 9660, UDF\n  Volume label:     UDF DISC\n"))
        << udf_report.standard_output;
}

// The file is read a window ahead of the check: every window is checked and extracted, in order.
TEST_F(Inspector, EveryWindowIsCheckedAndExtracted)
{
    const Bytes source = random_bytes((3 << 20) + 2048, 21);
    Bytes image = convert(source, "three");
    EXPECT_EQ(inspect({path("three.bin"), path("three-back.iso")}).exit_status, 0);
    EXPECT_EQ(read_file(path("three-back.iso")), source);
    const std::size_t bad_block_at = image.size() - source.size() + 700 * 4096;
    image[bad_block_at + 5] ^= 1;
    image[bad_block_at + 4096] ^= 1;  // a later bad block, which the first hides
    write_file(path("bad.bin"), image);
    const ProcessResult bad = inspect({path("bad.bin")});
    EXPECT_EQ(bad.exit_status, kFailureStatus);
    EXPECT_TRUE(has_line(bad, "  Block checksums:  block 700 bad, at offset " + std::to_string(bad_block_at) + "\n"))
        << bad.standard_output;
}

TEST_F(Inspector, PayloadWithoutVolumeIsAWarningOnly)
{
    convert(random_bytes(40 * 2048, 12), "random");
    const ProcessResult result = inspect({path("random.bin")});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_TRUE(has_line(result, "\nDisc in the image record\n"
                                 "  Volume formats:   none found\n"
                                 "  Warning:          no ISO 9660 or UDF volume descriptor, not a CD-ROM image?\n"
                                 "\nModel: Default\nVerdict: valid modem image\n"))
        << result.standard_output;
}

TEST_F(Inspector, ControlCharactersInTheFileNameAreEscaped)
{
    const std::string name = "disc-\xc2\x9b"
                             "31m-\x9b"
                             "2J-\xc3\xa9t\xc3\xa9.bin";
    convert(random_bytes(2048, 2), "small");
    fs::rename(path("small.bin"), path(name));
    const ProcessResult result = inspect({path(name)});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(has_line(result, "disc-\\xC2\\x9B31m-\\x9B2J-\xc3\xa9t\xc3\xa9.bin, 2468 bytes\n"))
        << result.standard_output;
}

// Whether the disk fills while the ISO is written or its final rename fails
// (a file mounted over the name: EBUSY), the report ends the same way.
TEST_F(Inspector, FailedExtractionReportsEveryCheckThenTheFailure)
{
    fs::create_directory(path("small-disk"));
    const Mounted small{path("small-disk"),
                        ::geteuid() == 0 && ::mount("tmpfs", path("small-disk").c_str(), "tmpfs", 0, "size=1M") == 0};
    if (!small.mounted) {
        GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
    }
    convert(random_bytes(4 << 20, 14), "four");
    convert(random_bytes(8192, 15), "tiny");
    write_file(path("small-disk/busy.iso"), Bytes{'o', 'l', 'd'});
    write_file(path("cover"), Bytes{'c'});
    ASSERT_EQ(::mount(path("cover").c_str(), path("small-disk/busy.iso").c_str(), nullptr, MS_BIND, nullptr), 0);
    for (const auto& [image, destination] :
         {std::pair{"four.bin", "small-disk/four.iso"}, std::pair{"tiny.bin", "small-disk/busy.iso"}}) {
        SCOPED_TRACE(destination);
        const ProcessResult plain = inspect({path(image)});
        ASSERT_EQ(plain.exit_status, 0);
        const ProcessResult extracted = inspect({path(image), path(destination)});
        EXPECT_EQ(extracted.exit_status, kFailureStatus);
        EXPECT_EQ(extracted.standard_error, kUnableToWriteExtracted);
        EXPECT_EQ(extracted.standard_output, plain.standard_output + "Extraction: failed\n");
        EXPECT_TRUE(has_line(extracted, "\nModel: Default\nVerdict: valid modem image\nExtraction: failed\n"));
    }
    ASSERT_EQ(::umount(path("small-disk/busy.iso").c_str()), 0);
    EXPECT_EQ(read_file(path("small-disk/busy.iso")), (Bytes{'o', 'l', 'd'}));
    fs::remove(path("small-disk/busy.iso"));
    EXPECT_TRUE(fs::is_empty(path("small-disk")));
}

// What a terminal shows once it has interpreted carriage returns, newlines and
// erasing to the end of the line or of the screen; any other escape sequence
// shows as <ESC>. Its lines wrap at `columns` (0: never), and from byte
// `resized_at` on at `resized_to`, rewrapped as tmux and VTE terminals do: a
// line keeps its characters and the cursor its place among them.
std::string final_screen(const std::string& raw, std::size_t columns = 0, std::size_t resized_at = std::string::npos,
                         std::size_t resized_to = 0)
{
    std::vector<std::string> lines(1);  // as written, before they wrap
    std::size_t line = 0;
    std::size_t at = 0;    // the cursor's place in its line
    bool at_edge = false;  // just wrote the last column: the cursor is still on that row
    std::size_t width = columns == 0 ? std::size_t{1} << 20 : columns;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (i == resized_at) {
            width = resized_to;
        }
        std::string& text = lines[line];
        const std::size_t row_start = (at_edge ? at - 1 : at) / width * width;
        if (raw[i] == '\r' || raw[i] == '\n') {
            at = row_start;
            if (raw[i] == '\n' && row_start + width < text.size()) {
                at += width;
            } else if (raw[i] == '\n' && ++line == lines.size()) {
                lines.emplace_back();
                at = 0;
            } else if (raw[i] == '\n') {
                at = 0;
            }
        } else if (raw.compare(i, 3, "\x1b[K") == 0 || raw.compare(i, 3, "\x1b[J") == 0) {
            const bool screen = raw[i + 2] == 'J';
            if (screen || row_start + width >= text.size()) {
                text.resize(std::min(at, text.size()));
            } else {
                std::fill(text.begin() + static_cast<std::ptrdiff_t>(at),
                          text.begin() + static_cast<std::ptrdiff_t>(row_start + width), ' ');
            }
            if (screen) {
                lines.resize(line + 1);
            }
            i += 2;
        } else {
            const std::string shown = raw[i] == '\x1b' ? std::string("<ESC>") : std::string(1, raw[i]);
            for (const char c : shown) {
                text.resize(std::max(text.size(), at + 1), ' ');
                text[at++] = c;
            }
            at_edge = at % width == 0;
            continue;
        }
        at_edge = false;
    }
    std::string screen;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (std::size_t start = 0; start < lines[i].size() || start == 0; start += width) {
            std::string row = lines[i].substr(std::min(start, lines[i].size()), width);
            row.erase(row.find_last_not_of(' ') + 1);
            screen += row + (i + 1 < lines.size() || start + width < lines[i].size() ? "\n" : "");
        }
    }
    return screen;
}

struct TerminalRun : ProcessResult {
    std::size_t narrowed_at = std::string::npos;  // the bytes of standard error shown before the terminal was narrowed
};

// Runs a program of the moved clock (every report draws the line) with
// standard error on a pseudo-terminal; with `interrupt` or `narrowed_to` it
// stops itself after its first drawing, and is sent `interrupt` or has the
// terminal narrowed to `narrowed_to` columns while that line stands.
TerminalRun run_on_terminal(const std::vector<std::string>& arguments, int interrupt = 0, ProcessOptions options = {},
                            unsigned short narrowed_to = 0)
{
    TerminalRun run;
    options.error_on_terminal = true;
    const bool stops = interrupt != 0 || narrowed_to != 0;
    if (stops) {
        options.environment.emplace_back("QUARNEL_TEST_STOP", "1");
    }
    bool acted = false;
    options.on_error_output = [&](pid_t pid, const std::string& raw) {
        const std::size_t line_end = raw.find('\r', std::min(raw.find(" MiB/s"), raw.size()));
        if (!stops || acted || line_end == std::string::npos) {
            return;
        }
        acted = true;
        int status = 0;
        ASSERT_TRUE(::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status));
        if (narrowed_to != 0) {
            const winsize size{24, narrowed_to, 0, 0};
            const int terminal = ::open(("/proc/" + std::to_string(pid) + "/fd/2").c_str(), O_RDWR | O_NOCTTY);
            EXPECT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);
            ::close(terminal);
            run.narrowed_at = line_end + 1;
        }
        if (interrupt != 0) {
            ::kill(pid, interrupt);
        }
        ::kill(pid, SIGCONT);
    };
    static_cast<ProcessResult&>(run) = run_process(arguments, options);
    EXPECT_EQ(acted, stops) << "no line drawn to act on";
    return run;
}

// The terminal's line discipline turns each newline into CR LF.
std::string as_terminal_shows(std::string_view text)
{
    return std::regex_replace(std::string(text), std::regex("\n"), "\r\n");
}

TEST_F(Inspector, ProgressOnATerminalLeavesOnlyTheMessages)
{
    make_sparse_file(path("big.iso"), std::uintmax_t{64} << 20);
    const TerminalRun conversion =
        run_on_terminal(built_program(QUARNEL_MOVED_CLOCK_BINARY, {path("big.iso"), path("big.bin")}));
    EXPECT_EQ(conversion.exit_status, 0);
    EXPECT_NE(conversion.standard_error.find(" MiB/s\r"), std::string::npos) << "no line drawn";
    EXPECT_EQ(final_screen(conversion.standard_error), final_screen(as_terminal_shows(banner_and(kSuccess))));

    // An interruption's message erases the line as well.
    const TerminalRun interrupted =
        run_on_terminal(built_program(QUARNEL_MOVED_CLOCK_BINARY, {path("big.iso"), path("again.bin")}), SIGINT);
    EXPECT_EQ(interrupted.end_signal, SIGINT);
    EXPECT_EQ(final_screen(interrupted.standard_error), final_screen(as_terminal_shows(banner_and(kInterrupted))));

    const TerminalRun inspection =
        run_on_terminal(built_program(QUARNEL_INSPECT_MOVED_CLOCK_BINARY, {path("big.bin")}));
    EXPECT_EQ(inspection.exit_status, 0);
    EXPECT_NE(inspection.standard_error.find(" MiB/s\r"), std::string::npos) << "no line drawn";
    EXPECT_EQ(final_screen(inspection.standard_error), "");

    // A failure erases the line too: the same image with its last byte gone.
    fs::resize_file(path("big.bin"), fs::file_size(path("big.bin")) - 1);
    const TerminalRun damaged = run_on_terminal(built_program(QUARNEL_INSPECT_MOVED_CLOCK_BINARY, {path("big.bin")}));
    EXPECT_EQ(damaged.exit_status, kFailureStatus);
    EXPECT_EQ(final_screen(damaged.standard_error), "Error: image file is truncated.\n");
}

// On a terminal narrower than the progress line the line is cut to fit, or
// not drawn, so that erasing it leaves no fragments of wrapped lines, also
// where the terminal is narrowed while the line stands and rewraps it; a dumb
// terminal, which cannot erase, gets no line at all.
TEST_F(Inspector, ProgressFitsANarrowTerminalAndADumbOneGetsNone)
{
    make_sparse_file(path("big.iso"), std::uintmax_t{64} << 20);
    struct Case {
        unsigned short columns;
        const char* term;
        unsigned short narrowed_to = 0;
    };
    for (const Case& c : {Case{12, "xterm"}, Case{4, "xterm"}, Case{80, "dumb"}, Case{80, "xterm", 12}}) {
        SCOPED_TRACE(std::to_string(c.columns) + " " + c.term + " " + std::to_string(c.narrowed_to));
        ProcessOptions options;
        options.terminal_columns = c.columns;
        options.environment = {{"TERM", c.term}};
        const TerminalRun run = run_on_terminal(
            built_program(QUARNEL_MOVED_CLOCK_BINARY, {path("big.iso"), path("big.bin")}), 0, options, c.narrowed_to);
        EXPECT_EQ(run.exit_status, 0);
        const std::size_t last_width = run.narrowed_at == std::string::npos ? c.columns : c.narrowed_to;
        EXPECT_EQ(final_screen(run.standard_error, c.columns, run.narrowed_at, c.narrowed_to),
                  final_screen(as_terminal_shows(banner_and(kSuccess)), last_width));
    }
}

}  // namespace
}  // namespace quarnel
