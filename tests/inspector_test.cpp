// quarnel-inspect end to end: images quarnel could never have written, the
// disc inside an image, a full disk during extraction, file names that would
// drive a terminal, and the progress line on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/end_to_end.h"
#include "support/expected_image.h"
#include "support/image_bytes.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;
using test::banner_and;
using test::Bytes;
using test::kFailureStatus;
using test::kSuccess;

constexpr std::size_t kSignature = 92;
constexpr std::size_t kImage = 320;

class Inspector : public test::EndToEnd {
protected:
    // Converts `source` into name.bin and gives that image's bytes.
    Bytes convert(const Bytes& source, const std::string& name)
    {
        test::write_file(path(name + ".iso"), source);
        expect_success(quarnel({path(name + ".iso"), path(name + ".bin")}));
        return test::read_file(path(name + ".bin"));
    }
    static bool has_line(const test::ProcessResult& result, const std::string& line)
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
    const Bytes valid = convert(test::random_bytes(10240, 5), "good");
    for (const Case& c : cases) {
        Bytes image = valid;
        if (c.width == 4) {
            test::put32(image, c.record + c.at, c.value);
        } else if (c.width == 2) {
            test::put16(image, c.record + c.at, c.value);
        } else {
            std::copy(c.text.begin(), c.text.end(), image.begin() + static_cast<std::ptrdiff_t>(c.record + c.at));
        }
        test::reseal(image, c.record);
        test::write_file(path("bad.bin"), image);
        const test::ProcessResult result = inspect({path("bad.bin"), path("out.iso")});
        EXPECT_EQ(result.exit_status, kFailureStatus) << c.description;
        EXPECT_EQ(result.standard_error, "Error: " + c.description + ".\n");
        EXPECT_TRUE(has_line(result, "\nVerdict: invalid: " + c.description + "\n")) << result.standard_output;
        EXPECT_FALSE(fs::exists(path("out.iso")));
    }
}

TEST_F(Inspector, DiscInsideIsDescribedAndMustNotBeCutShort)
{
    ASSERT_TRUE(test::make_iso(dir_, path("disc.iso"))) << "genisoimage is needed";
    const Bytes iso = test::read_file(path("disc.iso"));
    const std::string sectors = std::to_string(iso.size() / 2048);
    const std::string disc_lines = "\nDisc in the image record\n"
                                   "  Volume formats:   ISO 9660, Joliet\n"
                                   "  Volume label:     QUARNEL\n";

    convert(iso, "whole");
    const test::ProcessResult whole = inspect({path("whole.bin")});
    EXPECT_EQ(whole.exit_status, 0);
    EXPECT_EQ(whole.standard_error, "");
    EXPECT_TRUE(has_line(whole, disc_lines + "  Volume size:      " + sectors +
                                    " sectors\n\nModel: Default\nVerdict: valid modem image\n"))
        << whole.standard_output;

    Bytes padded = iso;
    padded.resize(iso.size() + 5 * 2048, 0);
    convert(padded, "padded");
    const test::ProcessResult pad = inspect({path("padded.bin"), path("padded-back.iso")});
    EXPECT_EQ(pad.exit_status, 0);
    EXPECT_TRUE(
        has_line(pad, disc_lines + "  Volume size:      " + sectors +
                          " sectors, then 5 sectors of padding\n\nModel: Default\nVerdict: valid modem image\n"))
        << pad.standard_output;
    EXPECT_EQ(test::read_file(path("padded-back.iso")), padded);

    Bytes cut = iso;
    cut.resize(iso.size() / 2 / 2048 * 2048);
    convert(cut, "cut");
    const test::ProcessResult short_disc = inspect({path("cut.bin"), path("cut-back.iso")});
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
    test::write_file(path("tree/boot.img"), test::random_bytes(2048, 8));
    const test::ProcessResult boot =
        test::run_process({"/usr/bin/genisoimage", "-quiet", "-J", "-V", "BOOT DISC", "-b", "boot.img", "-no-emul-boot",
                           "-boot-load-size", "4", "-o", path("boot.iso"), path("tree")});
    ASSERT_EQ(boot.exit_status, 0) << boot.standard_error;
    const test::ProcessResult udf = test::run_process(
        {"/usr/bin/genisoimage", "-quiet", "-udf", "-V", "UDF DISC", "-o", path("udf.iso"), path("tree")});
    ASSERT_EQ(udf.exit_status, 0) << udf.standard_error;

    convert(test::read_file(path("boot.iso")), "boot");
    convert(test::read_file(path("udf.iso")), "udf");
    const test::ProcessResult boot_report = inspect({path("boot.bin")});
    EXPECT_TRUE(has_line(boot_report, "  Volume formats:   ISO 9660, Joliet, El Torito\n"
                                      "  Volume label:     BOOT DISC\n"))
        << boot_report.standard_output;
    const test::ProcessResult udf_report = inspect({path("udf.bin")});
    EXPECT_TRUE(has_line(udf_report, "  Volume formats:   ISO 9660, UDF\n  Volume label:     UDF DISC\n"))
        << udf_report.standard_output;
}

TEST_F(Inspector, PayloadWithoutVolumeIsAWarningOnly)
{
    convert(test::random_bytes(40 * 2048, 12), "random");
    const test::ProcessResult result = inspect({path("random.bin")});
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
    convert(test::random_bytes(2048, 2), "small");
    fs::rename(path("small.bin"), path(name));
    const test::ProcessResult result = inspect({path(name)});
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

TEST_F(FullDisk, FailedExtractionReportsEveryCheckThenTheFailure)
{
    convert(test::random_bytes(4 << 20, 14), "four");
    const test::ProcessResult plain = inspect({path("four.bin")});
    ASSERT_EQ(plain.exit_status, 0);
    const test::ProcessResult extracted = inspect({path("four.bin"), path("small-disk/four.iso")});
    EXPECT_EQ(extracted.exit_status, kFailureStatus);
    EXPECT_EQ(extracted.standard_error, "Error: unable to write extracted file.\n");
    EXPECT_EQ(extracted.standard_output, plain.standard_output + "Extraction: failed\n");
    EXPECT_TRUE(has_line(extracted, "  Block checksums:  all 1024 good\n\nDisc in the image record\n"));
    EXPECT_TRUE(has_line(extracted, "\nModel: Default\nVerdict: valid modem image\nExtraction: failed\n"));
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

struct TerminalRun {
    std::string raw;  // all the program wrote on its standard error, a pseudo-terminal
    int exit_status = -1;
    int end_signal = 0;
    double seconds = 0;
    bool interrupted = false;  // the signal asked for was sent
};

struct TerminalSetting {
    int interrupt = 0;           // sent once a progress line has appeared
    bool hold = false;           // held past the progress delay just after the banner (also with `interrupt`)
    unsigned short columns = 0;  // the terminal's width; 0 leaves it unset
    const char* term = nullptr;  // TERM for the program, else the test's own
};

// Runs a program with standard error on a pseudo-terminal of the test's own,
// and standard input and output on /dev/null; with `interrupt`, holds it past
// the progress delay and sends that signal once a progress line has appeared.
TerminalRun run_on_terminal(const std::vector<std::string>& arguments, const TerminalSetting& setting = {})
{
    const int interrupt = setting.interrupt;
    TerminalRun run;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return run;
    }
    // Opened here so that reading the master cannot find it closed before the child has it.
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    if (setting.columns != 0) {
        const winsize size{24, setting.columns, 0, 0};
        ::ioctl(slave, TIOCSWINSZ, &size);
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (setting.term != nullptr) {
            ::setenv("TERM", setting.term, 1);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(slave, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(slave);
    bool paused = false;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            run.raw.append(buffer, static_cast<std::size_t>(got));
            if ((interrupt != 0 || setting.hold) && !paused && run.raw.find("\r\n\r\n") != std::string::npos) {
                // Held past the progress delay just after the banner, so that
                // the next step draws the line however fast the machine is.
                paused = ::kill(pid, SIGSTOP) == 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(700));
                ::kill(pid, SIGCONT);
            }
            if (interrupt != 0 && !run.interrupted && run.raw.find(" MiB/s") != std::string::npos) {
                run.interrupted = ::kill(pid, interrupt) == 0;
            }
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the child's end is closed
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.raw = test::without_coverage_complaints(run.raw);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.end_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    ::close(master);
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
void expect_progress_only_when_long(const TerminalRun& run)
{
    const bool drawn = run.raw.find(" MiB/s") != std::string::npos;
    if (run.seconds > 1.0) {
        EXPECT_TRUE(drawn) << run.seconds << " s";
        EXPECT_NE(run.raw.find("%, "), std::string::npos);
    }
    if (run.seconds < 0.5) {
        EXPECT_FALSE(drawn) << run.seconds << " s";
    }
}

TEST_F(Inspector, ProgressOnATerminalLeavesOnlyTheMessages)
{
    const fs::path scratch = test::scratch_directory();
    const std::string pid = std::to_string(::getpid());
    const fs::path source = scratch / ("quarnel-progress-" + pid + ".iso");
    const fs::path image = scratch / ("quarnel-progress-" + pid + ".bin");
    const fs::path again = scratch / ("quarnel-progress-" + pid + "-again.bin");
    test::make_sparse_file(source, (std::uintmax_t{1} << 31) - 2048);

    const TerminalRun conversion =
        run_on_terminal(test::built_program(QUARNEL_BINARY, {source.string(), image.string()}));
    EXPECT_EQ(conversion.exit_status, 0);
    EXPECT_EQ(final_screen(conversion.raw), final_screen(as_terminal_shows(banner_and(kSuccess))));
    expect_progress_only_when_long(conversion);

    // An interruption's message erases the line as well.
    const TerminalRun interrupted =
        run_on_terminal(test::built_program(QUARNEL_BINARY, {source.string(), again.string()}), {.interrupt = SIGINT});
    fs::remove(again);
    // (A signal that lands only after the rename finds the run settled: success.)
    if (interrupted.interrupted && interrupted.end_signal == SIGINT) {
        EXPECT_EQ(final_screen(interrupted.raw),
                  final_screen(as_terminal_shows(banner_and("Error: conversion interrupted.\n"))));
    }

    fs::remove(source);

    const TerminalRun inspection = run_on_terminal(test::built_program(QUARNEL_INSPECT_BINARY, {image.string()}));
    EXPECT_EQ(inspection.exit_status, 0);
    EXPECT_EQ(final_screen(inspection.raw), "");
    expect_progress_only_when_long(inspection);

    // A failure erases the line too: the same image with its last byte gone.
    fs::resize_file(image, fs::file_size(image) - 1);
    const TerminalRun damaged = run_on_terminal(test::built_program(QUARNEL_INSPECT_BINARY, {image.string()}));
    fs::remove(image);
    EXPECT_EQ(damaged.exit_status, kFailureStatus);
    EXPECT_EQ(final_screen(damaged.raw), "Error: image file is truncated.\n");
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
        const TerminalRun run = run_on_terminal(test::built_program(QUARNEL_BINARY, {source.string(), image.string()}),
                                                {.hold = true, .columns = c.columns, .term = c.term});
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(final_screen(run.raw, c.columns), final_screen(as_terminal_shows(banner_and(kSuccess)), c.columns));
        const bool drawn = run.raw.find('%') != std::string::npos;
        EXPECT_TRUE(drawn == c.drawn || (!drawn && run.seconds < 1.0)) << run.seconds << " s";
    }
    fs::remove(source);
    fs::remove(image);
}

}  // namespace
}  // namespace quarnel
