// The programs tried as an adversarial user would: shared sticky directories
// and another user's links, closed streams, every signal, paths near
// PATH_MAX, replaced files that carried more than their bytes, device nodes.
// Tests that need root, a second user, a tmpfs mount or strace skip where
// they are not to be had.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <pwd.h>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "support/end_to_end.h"
#include "support/expected_image.h"
#include "support/process.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;
using test::banner_and;
using test::Bytes;
using test::EndToEnd;
using test::has_temporary_file;
using test::kFailureStatus;
using test::make_sparse_file;
using test::Model;
using test::ProcessOptions;
using test::ProcessResult;
using test::start_and_pause;

constexpr std::string_view kSameFile = "Error: source and destination are the same file.\n";
constexpr std::string_view kUnableToCreateDestination = "Error: unable to create destination file.\n";
constexpr std::string_view kUnableToWriteDestination = "Error: unable to write destination file.\n";
constexpr std::string_view kInterrupted = "Error: conversion interrupted.\n";
constexpr std::string_view kInspectSameFile = "Error: image and extracted file are the same file.\n";
constexpr std::string_view kUnableToCreateExtracted = "Error: unable to create extracted file.\n";
constexpr std::string_view kUnableToWriteReport = "Error: unable to write report.\n";
constexpr std::string_view kInspectInterrupted = "Error: inspection interrupted.\n";

constexpr int kSignalledStatus = 128;
constexpr std::uintmax_t kPausableSource = std::uintmax_t{1} << 26;  // long enough to stop midway

bool is_root() { return ::geteuid() == 0; }

const passwd* other_user() { return ::getpwnam("nobody"); }

std::string read_text(const fs::path& file)
{
    const Bytes bytes = test::read_file(file.string());
    return {bytes.begin(), bytes.end()};
}

std::string read_attribute(const fs::path& file, const char* name)
{
    std::string value(256, '\0');
    const ssize_t length = ::getxattr(file.c_str(), name, value.data(), value.size());
    value.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    return value;
}

// An ACL as the kernel stores it in an attribute: a version, then for each
// entry its tag, its permissions and the user or group it names.
struct AclEntry {
    std::uint16_t tag;
    std::uint16_t permissions;
    std::uint32_t id = 0xFFFFFFFF;  // none
};
constexpr std::uint16_t kOwner = 0x01;
constexpr std::uint16_t kUser = 0x02;
constexpr std::uint16_t kOwningGroup = 0x04;
constexpr std::uint16_t kMask = 0x10;
constexpr std::uint16_t kOthers = 0x20;
constexpr const char* kAccessAcl = "system.posix_acl_access";

std::string acl_text(std::initializer_list<AclEntry> entries)
{
    std::string acl = {2, 0, 0, 0};
    const auto put = [&acl](std::uint32_t value, int bytes) {
        for (int byte = 0; byte < bytes; ++byte) {
            acl += static_cast<char>(value >> (8 * byte));
        }
    };
    for (const AclEntry& entry : entries) {
        put(entry.tag, 2);
        put(entry.permissions, 2);
        put(entry.id, 4);
    }
    return acl;
}

// A mounted file system, unmounted (and its loop device let go) when the test ends however it ends.
struct Mounted {
    std::string directory;
    bool mounted = false;
    ~Mounted()
    {
        if (mounted) {
            ::umount2(directory.c_str(), MNT_DETACH);
        }
    }
};

// Mounts the ext4 file system in `image` through a loop device. Its journal
// is committed every ten minutes only, so what the program leaves to it is
// not yet in the file when a copy is taken: the copy is what a power cut
// leaves, and mounting it replays the journal as a reboot does.
void mount_ext4(const std::string& image, Mounted& mount)
{
    fs::create_directories(mount.directory);
    mount.mounted = test::run_process({"/bin/mount", "-o", "loop,commit=600", image, mount.directory}).exit_status == 0;
}

class Safety : public EndToEnd {
protected:
    // A source of `size` bytes in the test's directory; the image it must become.
    Bytes make_source(const std::string& name, std::size_t size, unsigned seed)
    {
        const Bytes source = test::random_bytes(size, seed);
        test::write_file(path(name), source);
        return source;
    }

    // Runs the program stopped midway, sends the signal, lets it go on.
    ProcessResult signal_midway(const std::vector<std::string>& arguments, int signal_number,
                                const ProcessOptions& options = {})
    {
        const pid_t pid = start_and_pause(dir_ / "work", arguments, options);
        ::kill(pid, signal_number);
        ::kill(pid, SIGCONT);
        return test::wait_process(pid, path("work/stderr.txt"));
    }

    // sticky (root's, as /tmp), sticky-of-other (nobody's, sticky) and ordinary,
    // all writable by anyone.
    void make_shared_directories(const passwd& other)
    {
        for (const char* name : {"sticky", "sticky-of-other", "ordinary"}) {
            fs::create_directory(path(name));
            fs::permissions(path(name), fs::perms(std::string_view(name) == "ordinary" ? 0777 : 01777));
        }
        ASSERT_EQ(::chown(path("sticky-of-other").c_str(), other.pw_uid, other.pw_gid), 0);
    }

    // Runs a copy of quarnel as the user, from a place the user can reach.
    ProcessResult as_user(const passwd& user, const std::vector<std::string>& arguments)
    {
        fs::permissions(dir_, fs::perms(0711));
        if (!fs::exists(path("quarnel"))) {
            fs::copy_file(QUARNEL_BINARY, path("quarnel"));
            fs::permissions(path("quarnel"), fs::perms(0755));
        }
        std::vector<std::string> command = {"/usr/sbin/runuser", "-u", user.pw_name, "--", path("quarnel")};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return test::run_process(command);
    }

    // The names left in dir/work, the stderr capture aside.
    std::set<std::string> left_in_work() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_ / "work")) {
            if (entry.path().filename() != "stderr.txt") {
                names.insert(entry.path().filename().string());
            }
        }
        return names;
    }
};

// Finding 1: the kernel's protected_symlinks rule, applied by hand.
TEST_F(Safety, AnotherUsersLinkInAStickyDirectoryIsNotFollowed)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root and a user 'nobody' to own a planted link";
    }
    const Bytes source = make_source("in.iso", 6144, 1);
    const Bytes image = test::expected_image(source, Model::Default);
    test::write_file(path("good.bin"), image);
    make_shared_directories(*other);
    fs::create_directory(path("victim-dir"));
    fs::create_directory(path("own-dir"));

    auto plant = [&](const std::string& link, const std::string& target, bool by_other) {
        fs::create_symlink(target, path(link));
        if (by_other) {
            ASSERT_EQ(::lchown(path(link).c_str(), other->pw_uid, other->pw_gid), 0);
        }
    };
    struct Case {
        const char* link;
        const char* target;
        bool by_other;
        bool followed;
        const char* below = "";  // the destination below the link, which is then a directory part
    };
    const Case cases[] = {
        {"sticky/victim-link", "../victim.txt", true, false},
        {"sticky/dangling-link", "../created.bin", true, false},
        {"sticky/own-link", "../own.bin", false, true},
        {"sticky-of-other/owners-link", "../owners.bin", true, true},
        {"ordinary/others-link", "../ordinary.bin", true, true},
        {"chain-link", "sticky/victim-link", false, false},
        {"sticky/dir-link", "../victim-dir", true, false, "/data.bin"},
        {"sticky/own-dir-link", "../own-dir", false, true, "/data.bin"},
        {"ordinary/through-link", "../sticky/dir-link/data.bin", false, false},
    };
    for (const Case& c : cases) {
        plant(c.link, c.target, c.by_other);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        test::write_file(path("victim.txt"), Bytes{'v'});
        const ProcessResult result = quarnel({path("in.iso"), path(c.link) + c.below});
        const fs::path target = fs::weakly_canonical(fs::path(path(c.link)).parent_path() / c.target);
        if (c.followed) {
            expect_success(result);
            EXPECT_EQ(test::read_file(target.string() + c.below), image);
        } else {
            expect_failure(result, kUnableToCreateDestination);
            EXPECT_EQ(read_text(path("victim.txt")), "v");
            EXPECT_FALSE(fs::exists(path("created.bin")));
            EXPECT_TRUE(fs::is_empty(path("victim-dir")));
        }
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path(c.link))));
        EXPECT_FALSE(has_temporary_file(path("sticky")));
    }
    for (const char* destination : {"sticky/victim-link", "sticky/dir-link/back.iso"}) {
        const ProcessResult extracted = inspect({path("good.bin"), path(destination)});
        EXPECT_EQ(extracted.standard_error, kUnableToCreateExtracted);
        EXPECT_EQ(extracted.exit_status, kFailureStatus);
    }
    EXPECT_EQ(read_text(path("victim.txt")), "v");
    EXPECT_TRUE(fs::is_empty(path("victim-dir")));
}

// The kernel's protected_regular rule. Another user's file in
// a shared sticky directory is theirs to change after the run, so it is not
// replaced unless it belongs to the directory's owner.
TEST_F(Safety, AnotherUsersFileInAStickyDirectoryIsNotReplaced)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root and a user 'nobody' to own a planted file";
    }
    const Bytes source = make_source("in.iso", 4096, 11);
    const Bytes image = test::expected_image(source, Model::Default);
    test::write_file(path("good.bin"), image);
    make_shared_directories(*other);
    struct Case {
        const char* name;
        bool by_other;
        bool replaced;
    };
    const Case cases[] = {
        {"sticky/others.bin", true, false},
        {"sticky/roots.bin", false, true},
        {"sticky-of-other/owners.bin", true, true},
        {"ordinary/others.bin", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::write_file(path(c.name), Bytes{'k'});
        fs::permissions(path(c.name), fs::perms(0666));
        if (c.by_other) {
            ASSERT_EQ(::chown(path(c.name).c_str(), other->pw_uid, other->pw_gid), 0);
        }
        const ProcessResult result = quarnel({path("in.iso"), path(c.name)});
        if (c.replaced) {
            expect_success(result);
            EXPECT_EQ(test::read_file(path(c.name)), image);
        } else {
            expect_failure(result, kUnableToCreateDestination);
            EXPECT_EQ(read_text(path(c.name)), "k");
        }
    }
    const ProcessResult extracted = inspect({path("good.bin"), path("sticky/others.bin")});
    EXPECT_EQ(extracted.standard_error, kUnableToCreateExtracted);
    EXPECT_EQ(read_text(path("sticky/others.bin")), "k");
    EXPECT_FALSE(has_temporary_file(path("sticky")));
}

// Finding 2: nobody can read the new image through its temporary file.
TEST_F(Safety, TemporaryFileIsPrivateUntilItIsComplete)
{
    make_sparse_file(path("big.iso"), kPausableSource);
    fs::create_directory(path("work"));
    ProcessOptions permissive;
    permissive.umask = 0;
    const pid_t pid =
        start_and_pause(dir_ / "work", {QUARNEL_BINARY, path("big.iso"), path("work/out.bin")}, permissive);
    fs::perms seen = fs::perms::unknown;
    for (const auto& entry : fs::directory_iterator(dir_ / "work")) {
        if (entry.path().filename().string().starts_with(".quarnel-")) {
            seen = fs::symlink_status(entry.path()).permissions();
        }
    }
    ::kill(pid, SIGCONT);
    const ProcessResult result = test::wait_process(pid, path("work/stderr.txt"));
    EXPECT_EQ(seen, fs::perms(0600));
    EXPECT_EQ(result.standard_error, banner_and(test::kSuccess));
    EXPECT_EQ(fs::status(path("work/out.bin")).permissions(), fs::perms(0666));

    // The final permissions: a new file's from the umask, a replaced file's its own.
    make_source("in.iso", 4096, 2);
    struct Case {
        unsigned umask;
        std::optional<unsigned> existing;
        unsigned expected;
    };
    for (const Case& c : {Case{022, std::nullopt, 0644}, Case{027, std::nullopt, 0640}, Case{0, unsigned{0600}, 0600},
                          Case{077, unsigned{0664}, 0664}}) {
        fs::remove(path("out.bin"));
        if (c.existing) {
            test::write_file(path("out.bin"), Bytes{1});
            fs::permissions(path("out.bin"), fs::perms(*c.existing));
        }
        ProcessOptions options;
        options.umask = c.umask;
        expect_success(quarnel({path("in.iso"), path("out.bin")}, options));
        EXPECT_EQ(fs::status(path("out.bin")).permissions(), fs::perms(c.expected)) << c.umask;
    }
}

// Finding 3: a message stream nobody reads any more leaves the outcome as it was.
TEST_F(Safety, ClosedMessageStreamKeepsTheOutcome)
{
    make_sparse_file(path("big.iso"), kPausableSource);
    ProcessOptions head;
    head.close_error_after_first_line = true;
    const ProcessResult converted = quarnel({path("big.iso"), path("out.bin")}, head);
    EXPECT_EQ(converted.end_signal, 0);
    EXPECT_EQ(converted.exit_status, 0);
    EXPECT_EQ(converted.standard_error.substr(0, 10), "quarnel - ");
    EXPECT_EQ(fs::file_size(path("out.bin")), kPausableSource + 418 + 2 * (kPausableSource / 4096));

    const Bytes source = make_source("in.iso", 8192, 3);
    test::write_file(path("good.bin"), test::expected_image(source, Model::Default));
    ProcessOptions unread;
    unread.close_output_at_start = true;
    const ProcessResult inspected = inspect({path("good.bin"), path("back.iso")}, unread);
    EXPECT_EQ(inspected.end_signal, 0);
    EXPECT_EQ(inspected.exit_status, kFailureStatus);
    EXPECT_EQ(inspected.standard_error, kUnableToWriteReport);
    EXPECT_EQ(entries(), (std::set<std::string>{"big.iso", "out.bin", "in.iso", "good.bin"}));
}

// Finding 3 with a real full disk: `quarnel big.iso /mnt/small/out.bin 2>&1 | head -n1`.
TEST_F(Safety, FullSmallDiskWithAClosedPipeLeavesNothing)
{
    if (!is_root()) {
        GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
    }
    fs::create_directory(path("small"));
    if (::mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    make_sparse_file(path("big.iso"), std::uintmax_t{4} << 20);
    ProcessOptions head;
    head.close_error_after_first_line = true;
    const ProcessResult result = quarnel({path("big.iso"), path("small/out.bin")}, head);
    const bool empty = fs::is_empty(path("small"));
    ::umount(path("small").c_str());
    EXPECT_EQ(result.end_signal, 0);
    EXPECT_EQ(result.exit_status, kFailureStatus);
    EXPECT_TRUE(empty);
}

// Finding 4: with standard descriptors closed, no file of ours takes their place.
TEST_F(Safety, ClosedStandardDescriptorsCatchNoOutput)
{
    const Bytes source = make_source("in.iso", 3 * 4096, 4);
    const Bytes image = test::expected_image(source, Model::E220);
    test::write_file(path("good.bin"), image);
    const std::vector<std::vector<int>> closings = {{0}, {1}, {2}, {0, 1}, {0, 2}, {1, 2}, {0, 1, 2}};
    for (const std::vector<int>& closed : closings) {
        SCOPED_TRACE(closed.size() == 3 ? "all" : std::to_string(closed.front()) + "," + std::to_string(closed.back()));
        ProcessOptions options;
        options.closed_descriptors = closed;
        const ProcessResult extracted = inspect({path("good.bin"), path("back.iso")}, options);
        EXPECT_EQ(extracted.exit_status, 0);
        EXPECT_EQ(test::read_file(path("back.iso")), source);
        const ProcessResult converted = quarnel({"/model:E220", path("in.iso"), path("out.bin")}, options);
        EXPECT_EQ(converted.exit_status, 0);
        EXPECT_EQ(test::read_file(path("out.bin")), image);
        EXPECT_EQ(test::read_file(path("good.bin")), image);
        EXPECT_EQ(test::read_file(path("in.iso")), source);
    }
}

bool strace_works()
{
    if (::access("/usr/bin/strace", X_OK) != 0) {
        return false;
    }
    return test::run_process({"/usr/bin/strace", "-o", "/dev/null", "/bin/true"}).exit_status == 0;
}

// Finding 5: a signal that arrives while the file is renamed into place.
TEST_F(Safety, SignalDuringTheRenameMatchesTheDisk)
{
    if (!strace_works()) {
        GTEST_SKIP() << "strace is missing or cannot trace here";
    }
    const Bytes source = make_source("in.iso", 5 * 2048, 5);
    const Bytes image = test::expected_image(source, Model::Default);
    const Bytes old = {'o', 'l', 'd'};
    auto traced = [](const std::string& injection, const std::string& program, std::vector<std::string> arguments) {
        // A sanitizer build's leak check cannot run under ptrace, so it is left out there.
        std::vector<std::string> command = {"/usr/bin/strace",
                                            "-E",
                                            "ASAN_OPTIONS=detect_leaks=0",
                                            "-f",
                                            "-qq",
                                            "-o",
                                            "/dev/null",
                                            "-e",
                                            "trace=?rename,?renameat,renameat2",
                                            "-e",
                                            "inject=?rename,?renameat,renameat2:" + injection,
                                            program};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return test::run_process(command);
    };

    test::write_file(path("out.bin"), old);
    expect_success(traced("signal=SIGINT", QUARNEL_BINARY, {path("in.iso"), path("out.bin")}));
    EXPECT_EQ(test::read_file(path("out.bin")), image);

    test::write_file(path("out.bin"), old);
    const ProcessResult failed = traced("error=EXDEV:signal=SIGINT", QUARNEL_BINARY, {path("in.iso"), path("out.bin")});
    EXPECT_EQ(failed.end_signal, SIGINT);
    EXPECT_EQ(failed.standard_error, banner_and(kInterrupted));
    EXPECT_EQ(test::read_file(path("out.bin")), old);

    test::write_file(path("good.bin"), image);
    const ProcessResult extracted =
        traced("signal=SIGTERM", QUARNEL_INSPECT_BINARY, {path("good.bin"), path("back.iso")});
    EXPECT_EQ(extracted.exit_status, 0);
    EXPECT_EQ(extracted.end_signal, 0);
    EXPECT_EQ(test::read_file(path("back.iso")), source);
    EXPECT_EQ(entries(), (std::set<std::string>{"in.iso", "out.bin", "good.bin", "back.iso"}));
}

// Finding 6: every signal whose default ends the process cleans up; and a
// file-size limit without SIGXFSZ ignored is a write error.
TEST_F(Safety, EveryTerminatingSignalRemovesTheTemporaryFile)
{
    make_sparse_file(path("big.iso"), kPausableSource);
    fs::create_directory(path("work"));
    const int signals[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,      SIGALRM,
                           SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL, SIGPWR,  SIGRTMIN + 1, SIGRTMAX};
    for (int signal_number : signals) {
        SCOPED_TRACE(signal_number);
        const ProcessResult result =
            signal_midway({QUARNEL_BINARY, path("big.iso"), path("work/out.bin")}, signal_number);
        EXPECT_EQ(result.end_signal, signal_number);
        EXPECT_EQ(result.standard_error, banner_and(kInterrupted));
        EXPECT_TRUE(left_in_work().empty());
    }

    expect_success(quarnel({path("big.iso"), path("big.bin")}));
    for (int signal_number : {SIGHUP, SIGQUIT, SIGUSR1}) {
        SCOPED_TRACE(signal_number);
        const ProcessResult result =
            signal_midway({QUARNEL_INSPECT_BINARY, path("big.bin"), path("work/back.iso")}, signal_number);
        EXPECT_EQ(result.end_signal, signal_number);
        EXPECT_EQ(result.standard_error, kInspectInterrupted);
        EXPECT_TRUE(left_in_work().empty());
    }

    ProcessOptions limited;
    limited.file_size_limit = 8192;
    expect_failure(quarnel({path("big.iso"), path("work/out.bin")}, limited), kUnableToWriteDestination);
    EXPECT_TRUE(left_in_work().empty());
}

// Finding 7: what the caller ignores stays ignored; the run goes on to its end.
TEST_F(Safety, SignalsIgnoredAtStartStayIgnored)
{
    make_sparse_file(path("big.iso"), kPausableSource);
    fs::create_directory(path("work"));
    for (int signal_number : {SIGINT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(signal_number);
        ProcessOptions ignoring;
        ignoring.ignored_signals = {signal_number};
        const ProcessResult result =
            signal_midway({QUARNEL_BINARY, path("big.iso"), path("work/out.bin")}, signal_number, ignoring);
        EXPECT_EQ(result.end_signal, 0);
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.standard_error, banner_and(test::kSuccess));
        EXPECT_EQ(left_in_work(), (std::set<std::string>{"out.bin"}));
        fs::remove(path("work/out.bin"));
    }
}

// Finding 8: a destination path that the system accepts, however near PATH_MAX
// (the temporary file's full path would be longer).
TEST_F(Safety, DestinationNearPathMax)
{
    constexpr std::size_t kDirectoryLength = 4070;  // a full path of 4095 bytes at most fits PATH_MAX
    fs::path directory = dir_;
    while (kDirectoryLength - directory.native().size() > 250) {
        directory /= std::string(200, 'd');
    }
    directory /= std::string(kDirectoryLength - directory.native().size() - 1, 'e');
    ASSERT_EQ(directory.native().size(), kDirectoryLength);
    fs::create_directories(directory);
    const Bytes source = make_source("in.iso", 4096, 6);
    const std::string destination = (directory / "out.bin").string();
    expect_success(quarnel({path("in.iso"), destination}));
    EXPECT_EQ(test::read_file(destination), test::expected_image(source, Model::Default));

    const std::string extracted = (directory / "back.iso").string();
    EXPECT_EQ(inspect({destination, extracted}).exit_status, 0);
    EXPECT_EQ(test::read_file(extracted), source);
    EXPECT_FALSE(has_temporary_file(directory));
}

// Finding 9: root replacing another user's file keeps what the file carried.
TEST_F(Safety, ReplacingKeepsOwnerGroupAndExtendedAttributes)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root and a user 'nobody' to own the replaced file";
    }
    const Bytes source = make_source("in.iso", 4096, 7);
    test::write_file(path("out.bin"), Bytes{1});
    ASSERT_EQ(::chown(path("out.bin").c_str(), other->pw_uid, other->pw_gid), 0);
    fs::permissions(path("out.bin"), fs::perms(0640));
    const std::string note = "kept";
    if (::setxattr(path("out.bin").c_str(), "user.note", note.data(), note.size(), 0) != 0) {
        GTEST_SKIP() << "no extended attributes on this file system";
    }
    const std::string acl =
        acl_text({{kOwner, 6}, {kUser, 4, other->pw_uid}, {kOwningGroup, 4}, {kMask, 4}, {kOthers, 0}});
    const bool with_acl = ::setxattr(path("out.bin").c_str(), kAccessAcl, acl.data(), acl.size(), 0) == 0;
    // A file capability (CAP_NET_RAW permitted), which new contents must not inherit.
    const Bytes capability = {0, 0, 0, 2, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const bool with_capability =
        ::setxattr(path("out.bin").c_str(), "security.capability", capability.data(), capability.size(), 0) == 0;

    expect_success(quarnel({path("in.iso"), path("out.bin")}));
    struct stat info {};
    ASSERT_EQ(::stat(path("out.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, other->pw_uid);
    EXPECT_EQ(info.st_gid, other->pw_gid);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
    std::string value(16, '\0');
    const ssize_t length = ::getxattr(path("out.bin").c_str(), "user.note", value.data(), value.size());
    EXPECT_EQ(value.substr(0, static_cast<std::size_t>(std::max<ssize_t>(length, 0))), note);
    if (with_acl) {
        EXPECT_EQ(read_attribute(path("out.bin"), kAccessAcl), acl);
    }
    if (with_capability) {
        EXPECT_LT(::getxattr(path("out.bin").c_str(), "security.capability", nullptr, 0), 0);
    }
    EXPECT_EQ(test::read_file(path("out.bin")), test::expected_image(source, Model::Default));
}

// Finding 9: a user may not replace what they may not write, as cp refuses;
// what they may replace gives no other group the old group's rights.
TEST_F(Safety, UserReplacesOnlyWhatTheyMayWrite)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr || ::access("/usr/sbin/runuser", X_OK) != 0) {
        GTEST_SKIP() << "needs root, runuser and a user 'nobody' to run as";
    }
    fs::create_directory(path("home"));
    ASSERT_EQ(::chown(path("home").c_str(), other->pw_uid, other->pw_gid), 0);
    const Bytes source = make_source("home/in.iso", 4096, 8);
    fs::permissions(path("home/in.iso"), fs::perms(0644));
    struct Case {
        const char* name;
        bool user_owned;
        unsigned permissions;
        std::optional<unsigned> replaced_with;  // none: refused
    };
    const Case cases[] = {
        {"home/read-only.bin", true, 0444, std::nullopt},
        {"home/writable.bin", true, 0644, 0644},
        {"home/write-only.bin", true, 0200, 0200},
        {"home/roots-open.bin", false, 0666, 0606},
    };
    for (const Case& c : cases) {
        test::write_file(path(c.name), Bytes{'k'});
        if (c.user_owned) {
            ASSERT_EQ(::chown(path(c.name).c_str(), other->pw_uid, other->pw_gid), 0);
        }
        fs::permissions(path(c.name), fs::perms(c.permissions));
    }
    auto convert = [&](const std::string& destination) {
        return as_user(*other, {path("home/in.iso"), path(destination)});
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.replaced_with) {
            expect_failure(convert(c.name), kUnableToCreateDestination);
            EXPECT_EQ(read_text(path(c.name)), "k");
            continue;
        }
        expect_success(convert(c.name));
        EXPECT_EQ(test::read_file(path(c.name)), test::expected_image(source, Model::Default));
        struct stat info {};
        ASSERT_EQ(::stat(path(c.name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, *c.replaced_with);
        EXPECT_EQ(info.st_gid, other->pw_gid);
    }
    expect_failure(convert("not-the-users.bin"), kUnableToCreateDestination);
    EXPECT_FALSE(has_temporary_file(path("home")));
    EXPECT_FALSE(has_temporary_file(dir_));
}

// A new file gets what any program's new file gets in its directory: a
// default ACL there decides its permissions rather than the umask, and a named
// user's entry stays as the ACL gives it.
TEST_F(Safety, NewFileGetsWhatTheDirectorysDefaultAclGives)
{
    const passwd* other = other_user();
    if (other == nullptr) {
        GTEST_SKIP() << "needs a user 'nobody' to name in an ACL";
    }
    const Bytes source = make_source("in.iso", 4096, 12);
    test::write_file(path("good.bin"), test::expected_image(source, Model::Default));
    ProcessOptions options;
    options.umask = 022;
    const std::string defaults[] = {
        acl_text({{kOwner, 6}, {kOwningGroup, 4}, {kOthers, 0}}),
        acl_text({{kOwner, 6}, {kUser, 6, other->pw_uid}, {kOwningGroup, 4}, {kMask, 6}, {kOthers, 0}}),
    };
    for (const std::string& acl : defaults) {
        const std::string directory = path("acl-" + std::to_string(acl.size()));
        fs::create_directory(directory);
        if (::setxattr(directory.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
            GTEST_SKIP() << "no ACLs on this file system";
        }
        // What open(O_CREAT, 0666) makes there under the runs' umask.
        const mode_t saved = ::umask(*options.umask);
        ::close(::open((directory + "/touched").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
        ::umask(saved);
        expect_success(quarnel({path("in.iso"), directory + "/out.bin"}, options));
        EXPECT_EQ(inspect({path("good.bin"), directory + "/back.iso"}, options).exit_status, 0);
        const fs::perms touched = fs::status(directory + "/touched").permissions();
        for (const char* name : {"/out.bin", "/back.iso"}) {
            SCOPED_TRACE(directory + name);
            EXPECT_EQ(fs::status(directory + name).permissions(), touched);
            EXPECT_EQ(read_attribute(directory + name, kAccessAcl), read_attribute(directory + "/touched", kAccessAcl));
        }
    }
}

// An old file's ACL is carried over also when the file cannot be read (its
// user's own write-only file) or its attributes cannot be listed (more than
// 64 KiB of names, on a tmpfs), so that its mask never becomes the owning
// group's rights.
TEST_F(Safety, AclIsCarriedWhereTheAttributesCannotBeListed)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr || ::access("/usr/sbin/runuser", X_OK) != 0) {
        GTEST_SKIP() << "needs root, runuser and a user 'nobody' to run as";
    }
    const Bytes source = make_source("in.iso", 4096, 13);
    fs::permissions(path("in.iso"), fs::perms(0644));
    fs::create_directory(path("home"));
    ASSERT_EQ(::chown(path("home").c_str(), other->pw_uid, other->pw_gid), 0);
    Mounted small{path("small")};
    fs::create_directory(small.directory);
    small.mounted = ::mount("tmpfs", small.directory.c_str(), "tmpfs", 0, "size=4m") == 0;
    struct Case {
        const char* name;
        bool by_other;
        std::string acl;
        unsigned permissions;  // what the ACL makes of the mode
    };
    const Case cases[] = {
        {"home/write-only.bin", true,
         acl_text({{kOwner, 2}, {kUser, 4, 0}, {kOwningGroup, 0}, {kMask, 4}, {kOthers, 0}}), 0240},
        {"small/many-names.bin", false,
         acl_text({{kOwner, 6}, {kUser, 6, other->pw_uid}, {kOwningGroup, 0}, {kMask, 6}, {kOthers, 0}}), 0660},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (fs::path(c.name).parent_path() == "small" && !small.mounted) {
            continue;  // no tmpfs to be had here
        }
        test::write_file(path(c.name), Bytes{'k'});
        if (c.by_other) {
            ASSERT_EQ(::chown(path(c.name).c_str(), other->pw_uid, other->pw_gid), 0);
        }
        ASSERT_EQ(::setxattr(path(c.name).c_str(), kAccessAcl, c.acl.data(), c.acl.size(), 0), 0);
        for (int i = 0; i < 300 && !c.by_other; ++i) {
            const std::string name = "user." + std::to_string(i) + std::string(240, 'n');
            ASSERT_EQ(::setxattr(path(c.name).c_str(), name.c_str(), "v", 1, 0), 0);
        }
        const std::vector<std::string> arguments = {path("in.iso"), path(c.name)};
        expect_success(c.by_other ? as_user(*other, arguments) : quarnel(arguments));
        EXPECT_EQ(read_attribute(path(c.name), kAccessAcl), c.acl);
        EXPECT_EQ(fs::status(path(c.name)).permissions(), fs::perms(c.permissions));
        EXPECT_EQ(test::read_file(path(c.name)), test::expected_image(source, Model::Default));
    }
}

// A directory whose names cannot be removed (append-only) or changed at all
// (immutable) cannot take the new file under the destination's name: the run
// finds that out before it makes anything there.
TEST_F(Safety, AppendOnlyOrImmutableDirectoryIsRefusedUpFront)
{
    if (!is_root()) {
        GTEST_SKIP() << "setting a directory append-only or immutable needs root";
    }
    const Bytes source = make_source("in.iso", 4096, 14);
    test::write_file(path("good.bin"), test::expected_image(source, Model::Default));
    for (const int flag : {FS_APPEND_FL, FS_IMMUTABLE_FL}) {
        SCOPED_TRACE(flag);
        fs::create_directory(path("work"));
        test::write_file(path("work/out.bin"), Bytes{'o', 'l', 'd'});
        const int directory = ::open(path("work").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (::ioctl(directory, FS_IOC_GETFLAGS, &flags) != 0 ||
            (flags |= flag, ::ioctl(directory, FS_IOC_SETFLAGS, &flags)) != 0) {
            ::close(directory);
            GTEST_SKIP() << "no append-only or immutable directories on this file system";
        }
        const ProcessResult converted = quarnel({path("in.iso"), path("work/out.bin")});
        const ProcessResult extracted = inspect({path("good.bin"), path("work/back.iso")});
        const std::set<std::string> left = left_in_work();
        flags &= ~flag;
        ASSERT_EQ(::ioctl(directory, FS_IOC_SETFLAGS, &flags), 0);
        ::close(directory);
        expect_failure(converted, kUnableToCreateDestination);
        EXPECT_EQ(extracted.standard_error, kUnableToCreateExtracted);
        EXPECT_EQ(left, std::set<std::string>{"out.bin"});
        EXPECT_EQ(read_text(path("work/out.bin")), "old");
        fs::remove_all(path("work"));
    }
}

// Exit status 0 survives a power cut: the copy of the disk taken the moment
// the program has exited holds the complete new file with what it promised.
TEST_F(Safety, ExitZeroSurvivesAPowerCut)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root, loop devices and a user 'nobody' to own the replaced file";
    }
    make_sparse_file(path("disk.img"), std::uintmax_t{64} << 20);
    Mounted disk{path("disk")};
    if (test::run_process({"/sbin/mkfs.ext4", "-q", "-F", path("disk.img")}).exit_status == 0) {
        mount_ext4(path("disk.img"), disk);
    }
    if (!disk.mounted) {
        GTEST_SKIP() << "no ext4 file system on a loop device here";
    }
    const Bytes source = make_source("in.iso", 300 * 2048, 10);
    const Bytes image = test::expected_image(source, Model::Default);
    test::write_file(path("good.bin"), image);
    struct Case {
        const char* name;
        std::vector<std::string> command;
        const Bytes& expected;
    };
    const Case cases[] = {
        {"out.bin", test::built_program(QUARNEL_BINARY, {path("in.iso"), path("disk/out.bin")}), image},
        {"back.iso", test::built_program(QUARNEL_INSPECT_BINARY, {path("good.bin"), path("disk/back.iso")}), source},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path replaced = path("disk") + "/" + c.name;
        test::write_file(replaced, Bytes{'o', 'l', 'd'});
        ASSERT_EQ(::chown(replaced.c_str(), other->pw_uid, other->pw_gid), 0);
        fs::permissions(replaced, fs::perms(0640));
        ASSERT_EQ(::setxattr(replaced.c_str(), "user.note", "kept", 4, 0), 0);
        const int root = ::open(path("disk").c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(::syncfs(root), 0);  // the old file is on the disk before the run
        ::close(root);

        EXPECT_EQ(test::run_process(c.command).exit_status, 0);
        fs::remove(path("cut.img"));
        ASSERT_EQ(test::run_process({"/bin/cp", "--sparse=always", path("disk.img"), path("cut.img")}).exit_status, 0);
        Mounted cut{path("cut")};
        mount_ext4(path("cut.img"), cut);
        ASSERT_TRUE(cut.mounted);
        const fs::path found = path("cut") + "/" + c.name;
        struct stat info {};
        ASSERT_EQ(::stat(found.c_str(), &info), 0);
        EXPECT_TRUE(test::read_file(found) == c.expected) << "holds " << info.st_size << " bytes, not the new file";
        EXPECT_EQ(info.st_mode & 07777, 0640U);
        EXPECT_EQ(info.st_uid, other->pw_uid);
        EXPECT_EQ(read_attribute(found, "user.note"), "kept");
        EXPECT_FALSE(has_temporary_file(path("cut")));
    }
}

// Finding 10: `quarnel /dev/loop0 /dev/loop0`, and two nodes of one device.
TEST_F(Safety, TwoNodesOfOneBlockDeviceAreTheSameFile)
{
    if (!is_root()) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    for (const char* name : {"disc", "other-node"}) {
        if (::mknod(path(name).c_str(), S_IFBLK | 0600, makedev(7, 0)) != 0) {
            GTEST_SKIP() << "device nodes cannot be made here";
        }
    }
    if (test::run_process({"/bin/dd", "if=" + path("disc"), "of=/dev/null", "count=0", "status=none"}).exit_status !=
        0) {
        GTEST_SKIP() << "the first loop device cannot be opened here";
    }
    fs::create_symlink("other-node", path("link"));
    for (const char* destination : {"disc", "other-node", "link"}) {
        SCOPED_TRACE(destination);
        expect_failure(quarnel({path("disc"), path(destination)}), kSameFile);
        const ProcessResult inspected = inspect({path("disc"), path(destination)});
        EXPECT_EQ(inspected.standard_error, kInspectSameFile);
        EXPECT_EQ(inspected.exit_status, kFailureStatus);
    }
    EXPECT_EQ(entries(), (std::set<std::string>{"disc", "other-node", "link"}));
}

}  // namespace
}  // namespace quarnel
