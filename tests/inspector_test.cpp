// quarnel-inspect end to end: images quarnel could never have written, the
// disc inside an image, a full disk during extraction, file names that would
// drive a terminal, and the progress line on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/mount.h>
#include <thread>
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
        {kImage, 94, 2, 1, "", "image record's block_size is 1, not 4096"},
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

    convert(iso, "whole");
    const ProcessResult whole = inspect({path("whole.bin")});
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

// A 1 MiB tmpfs mounted for the test alone; needs root.
class FullDisk : public Inspector {
protected:
    void SetUp() override
    {
        Inspector::SetUp();
        fs::create_directory(path("small-disk"));
        if (::geteuid() != 0 || ::mount("tmpfs", path("small-disk").c_str(), "tmpfs", 0, "size=1M") != 0) {
            GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
        }
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_) {
            EXPECT_EQ(::umount(path("small-disk").c_str()), 0);
        }
        Inspector::TearDown();
    }
    bool mounted_ = false;
};

// Whether the disk fills while the ISO is written or its final rename fails
// (a file mounted over the name: EBUSY), the report ends the same way.
TEST_F(FullDisk, FailedExtractionReportsEveryCheckThenTheFailure)
{
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
// "erase to the end of the line"; any other escape sequence shows as <ESC>.
// One `columns` wide (0: unbounded) goes on to the next line where a character
// would pass its edge, as terminals do.
std::string final_screen(const std::string& raw, std::size_t columns = 0)
{
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (columns != 0 && column == columns && raw[i] != '\r' && raw[i] != '\n') {
            lines.emplace_back();
            column = 0;
        }
        std::string& line = lines.back();
        if (raw[i] == '\r') {
            column = 0;
        } else if (raw[i] == '\n') {
            lines.emplace_back();
            column = 0;
        } else if (raw.compare(i, 3, "\x1b[K") == 0) {
            line.resize(std::min(column, line.size()));
            i += 2;
        } else if (raw[i] == '\x1b') {
            line += "<ESC>";
        } else {
            if (line.size() <= column) {
                line.resize(column + 1, ' ');
            }
            line[column++] = raw[i];
        }
    }
    std::string screen;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        screen += lines[i] + (i + 1 < lines.size() ? "\n" : "");
    }
    return screen;
}

struct TerminalRun : ProcessResult {
    double seconds = 0;               // from its start to its end
    double seconds_after_banner = 0;  // from when its banner was read, about when its progress clock started
    bool interrupted = false;         // the signal asked for was sent
};

// Whether a process has `file` open.
bool holds_open(pid_t pid, const fs::path& file)
{
    std::error_code error;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        if (fs::equivalent(fs::read_symlink(it->path(), error), file, error)) {
            return true;
        }
    }
    return false;
}

// Runs a program with standard error on a pseudo-terminal; with `interrupt`,
// or on a terminal of a set width, holds it past the progress delay, and with
// `interrupt` sends that signal once a progress line has appeared.
TerminalRun run_on_terminal(const std::vector<std::string>& arguments, int interrupt = 0, ProcessOptions options = {})
{
    TerminalRun run;
    options.error_on_terminal = true;
    const bool hold = interrupt != 0 || options.terminal_columns != 0;
    std::optional<std::chrono::steady_clock::time_point> banner;
    options.on_error_output = [&](pid_t pid, const std::string& raw) {
        if (!banner && raw.find("\r\n\r\n") != std::string::npos) {
            banner = std::chrono::steady_clock::now();
            // Held past the progress delay while the run has its source open
            // (its progress clock starts before that, after the banner), so
            // that its next step draws the line however fast the machine is;
            // the source is looked for until the run ends.
            while (hold && !holds_open(pid, arguments.at(1)) && !has_exited(pid)) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            if (hold && !has_exited(pid) && ::kill(pid, SIGSTOP) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(700));
                ::kill(pid, SIGCONT);
            }
        }
        if (interrupt != 0 && !run.interrupted && raw.find(" MiB/s") != std::string::npos) {
            run.interrupted = ::kill(pid, interrupt) == 0;
        }
    };
    const auto start = std::chrono::steady_clock::now();
    static_cast<ProcessResult&>(run) = run_process(arguments, options);
    const auto end = std::chrono::steady_clock::now();
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.seconds_after_banner = std::chrono::duration<double>(end - banner.value_or(start)).count();
    return run;
}

// The terminal's line discipline turns each newline into CR LF.
std::string as_terminal_shows(std::string_view text)
{
    std::string shown;
    for (char c : text) {
        shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return shown;
}

// A run that long has drawn progress; one shorter than the delay cannot have.
// Its length is counted from its banner for the first, since a loaded machine
// may take long to start it, and from its start for the second.
void expect_progress_only_when_long(const TerminalRun& run)
{
    const bool drawn = run.standard_error.find(" MiB/s") != std::string::npos;
    if (run.seconds_after_banner > 1.0) {
        EXPECT_TRUE(drawn) << run.seconds_after_banner << " s";
        EXPECT_NE(run.standard_error.find("%, "), std::string::npos);
    }
    if (run.seconds < 0.5) {
        EXPECT_FALSE(drawn) << run.seconds << " s";
    }
}

TEST_F(Inspector, ProgressOnATerminalLeavesOnlyTheMessages)
{
    const fs::path scratch = scratch_directory();
    const std::string pid = std::to_string(::getpid());
    const fs::path source = scratch / ("quarnel-progress-" + pid + ".iso");
    const fs::path image = scratch / ("quarnel-progress-" + pid + ".bin");
    const fs::path again = scratch / ("quarnel-progress-" + pid + "-again.bin");
    make_sparse_file(source, (std::uintmax_t{1} << 31) - 2048);

    const TerminalRun conversion = run_on_terminal(built_program(QUARNEL_BINARY, {source.string(), image.string()}));
    EXPECT_EQ(conversion.exit_status, 0);
    EXPECT_EQ(final_screen(conversion.standard_error), final_screen(as_terminal_shows(banner_and(kSuccess))));
    expect_progress_only_when_long(conversion);

    // An interruption's message erases the line as well.
    const TerminalRun interrupted =
        run_on_terminal(built_program(QUARNEL_BINARY, {source.string(), again.string()}), SIGINT);
    fs::remove(again);
    // (A signal that lands only after the rename finds the run settled: success.)
    if (interrupted.interrupted && interrupted.end_signal == SIGINT) {
        EXPECT_EQ(final_screen(interrupted.standard_error), final_screen(as_terminal_shows(banner_and(kInterrupted))));
    }

    fs::remove(source);

    const TerminalRun inspection = run_on_terminal(built_program(QUARNEL_INSPECT_BINARY, {image.string()}));
    EXPECT_EQ(inspection.exit_status, 0);
    EXPECT_EQ(final_screen(inspection.standard_error), "");
    expect_progress_only_when_long(inspection);

    // A failure erases the line too: the same image with its last byte gone.
    fs::resize_file(image, fs::file_size(image) - 1);
    const TerminalRun damaged = run_on_terminal(built_program(QUARNEL_INSPECT_BINARY, {image.string()}));
    fs::remove(image);
    EXPECT_EQ(damaged.exit_status, kFailureStatus);
    EXPECT_EQ(final_screen(damaged.standard_error), "Error: image file is truncated.\n");
    expect_progress_only_when_long(damaged);
}

// On a terminal narrower than the progress line the line is cut to fit, or
// not drawn, so that erasing it leaves no fragments of wrapped lines; a dumb
// terminal, which cannot erase, gets no line at all.
TEST_F(Inspector, ProgressFitsANarrowTerminalAndADumbOneGetsNone)
{
    const fs::path scratch = test::scratch_directory();
    const std::string pid = std::to_string(::getpid());
    const fs::path source = scratch / ("quarnel-narrow-" + pid + ".iso");
    const fs::path image = scratch / ("quarnel-narrow-" + pid + ".bin");
    test::make_sparse_file(source, std::uintmax_t{1} << 30);
    struct Case {
        unsigned short columns;
        const char* term;
        bool drawn;
    };
    for (const Case& c : {Case{12, "xterm", true}, Case{4, "xterm", false}, Case{80, "dumb", false}}) {
        SCOPED_TRACE(std::to_string(c.columns) + " " + c.term);
        ProcessOptions options;
        options.terminal_columns = c.columns;
        options.environment = {{"TERM", c.term}};
        const TerminalRun run =
            run_on_terminal(built_program(QUARNEL_BINARY, {source.string(), image.string()}), 0, options);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(final_screen(run.standard_error, c.columns),
                  final_screen(as_terminal_shows(banner_and(kSuccess)), c.columns));
        const bool drawn = run.standard_error.find('%') != std::string::npos;
        EXPECT_TRUE(drawn == c.drawn || (!drawn && run.seconds_after_banner < 1.0)) << run.seconds_after_banner << " s";
    }
    fs::remove(source);
    fs::remove(image);
}

}  // namespace
}  // namespace quarnel
