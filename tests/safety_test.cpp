// The programs tried as an adversarial user would: shared sticky directories
// and another user's links, closed streams, every signal, paths near
// PATH_MAX, replaced files that carried more than their bytes, device nodes.
// Tests that need root, a second user, a tmpfs mount or strace skip where
// they are not to be had.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <pwd.h>
#include <set>
#include <string>
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
using namespace test;

constexpr int kSignalledStatus = 128;
constexpr std::uintmax_t kPausableSource = std::uintmax_t{1} << 26;  // still being copied when stopped

bool is_root() { return ::geteuid() == 0; }

const passwd* other_user() { return ::getpwnam("nobody"); }

constexpr const char* kAccessAcl = "system.posix_acl_access";

std::string read_attribute(const fs::path& file, const char* name)
{
    std::string value(256, '\0');
    value.resize(static_cast<std::size_t>(std::max<ssize_t>(::getxattr(file.c_str(), name, value.data(), 256), 0)));
    return value;
}

bool set_acl(const std::string& file, const std::string& entries, const char* option = "-m")
{
    return test::run_process({"/usr/bin/setfacl", option, entries, file}).exit_status == 0;
}

class Safety : public EndToEnd {
protected:
    // A source of `size` bytes in the test's directory; the image it must become.
    Bytes make_source(const std::string& name, std::size_t size, unsigned seed)
    {
        const Bytes source = random_bytes(size, seed);
        write_file(path(name), source);
        return source;
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
        return run_process(command);
    }
};

// quarnel applies the kernel's protected_symlinks rule itself, to every link
// of the path, and its protected_regular rule to a file found there.
TEST_F(Safety, AnotherUsersLinkInAStickyDirectoryIsNotFollowed)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root and a user 'nobody' to own a planted link";
    }
    const Bytes source = make_source("in.iso", 6144, 1);
    const Bytes image = test::expected_image(source, Model::Default);
    test::write_file(path("good.bin"), image);
    for (const char* name : {"sticky", "sticky-of-other", "ordinary"}) {
        fs::create_directory(path(name));
    }
    fs::permissions(path("sticky"), fs::perms(01777));
    fs::permissions(path("sticky-of-other"), fs::perms(01777));
    ASSERT_EQ(::chown(path("sticky-of-other").c_str(), other->pw_uid, other->pw_gid), 0);
    fs::create_directory(path("victim-dir"));
    fs::create_directory(path("own-dir"));

    // A link to `target`, or without one a file anyone may write.
    auto plant = [&](const std::string& link, const char* target, bool by_other) {
        if (target != nullptr) {
            fs::create_symlink(target, path(link));
        } else {
            test::write_file(path(link), Bytes{'k'});
            fs::permissions(path(link), fs::perms(0666));
        }
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
        {"sticky/others.bin", nullptr, true, false},
        {"sticky/roots.bin", nullptr, false, true},
        {"sticky-of-other/owners.bin", nullptr, true, true},
    };
    for (const Case& c : cases) {
        plant(c.link, c.target, c.by_other);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        test::write_file(path("victim.txt"), Bytes{'v'});
        const ProcessResult result = quarnel({path("in.iso"), path(c.link) + c.below});
        const fs::path target = c.target == nullptr
                                    ? fs::path(path(c.link))
                                    : fs::weakly_canonical(fs::path(path(c.link)).parent_path() / c.target);
        if (c.followed) {
            expect_success(result);
            EXPECT_EQ(test::read_file(target.string() + c.below), image);
        } else {
            expect_failure(result, kUnableToCreateDestination);
            EXPECT_EQ(read_text(path("victim.txt")), "v");
            EXPECT_FALSE(fs::exists(path("created.bin")));
            EXPECT_TRUE(fs::is_empty(path("victim-dir")));
            EXPECT_TRUE(c.target != nullptr || read_text(target) == "k");
        }
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(path(c.link))), c.target != nullptr);
        EXPECT_FALSE(has_temporary_file(path("sticky")));
    }
    for (const char* destination : {"sticky/victim-link", "sticky/dir-link/back.iso", "sticky/others.bin"}) {
        const ProcessResult extracted = inspect({path("good.bin"), path(destination)});
        EXPECT_EQ(extracted.standard_error, kUnableToCreateExtracted);
        EXPECT_EQ(extracted.exit_status, kFailureStatus);
    }
    EXPECT_EQ(read_text(path("victim.txt")), "v");
    EXPECT_EQ(read_text(path("sticky/others.bin")), "k");
    EXPECT_TRUE(fs::is_empty(path("victim-dir")));
}

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
    const ProcessResult result = wait_process(pid, path("work/stderr.txt"));
    EXPECT_EQ(seen, fs::perms(0600));
    EXPECT_EQ(result.standard_error, banner_and(kSuccess));
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
            write_file(path("out.bin"), Bytes{1});
            fs::permissions(path("out.bin"), fs::perms(*c.existing));
        }
        ProcessOptions options;
        options.umask = c.umask;
        expect_success(quarnel({path("in.iso"), path("out.bin")}, options));
        EXPECT_EQ(fs::status(path("out.bin")).permissions(), fs::perms(c.expected)) << c.umask;
    }
}

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
    write_file(path("good.bin"), expected_image(source, Model::Default));
    ProcessOptions unread;
    unread.close_output_at_start = true;
    const ProcessResult inspected = inspect({path("good.bin"), path("back.iso")}, unread);
    EXPECT_EQ(inspected.end_signal, 0);
    EXPECT_EQ(inspected.exit_status, kFailureStatus);
    EXPECT_EQ(inspected.standard_error, kUnableToWriteReport);
    EXPECT_EQ(entries(), (std::set<std::string>{"big.iso", "out.bin", "in.iso", "good.bin"}));
}

// The run under test is `quarnel big.iso /mnt/small/out.bin 2>&1 | head -n1` on a full disk.
TEST_F(Safety, FullSmallDiskWithAClosedPipeLeavesNothing)
{
    if (!is_root()) {
        GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
    }
    fs::create_directory(path("small"));
    const Mounted small{path("small"), ::mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=1m") == 0};
    if (!small.mounted) {
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    make_sparse_file(path("big.iso"), std::uintmax_t{4} << 20);
    ProcessOptions head;
    head.close_error_after_first_line = true;
    const ProcessResult result = quarnel({path("big.iso"), path("small/out.bin")}, head);
    EXPECT_EQ(result.end_signal, 0);
    EXPECT_EQ(result.exit_status, kFailureStatus);
    EXPECT_TRUE(fs::is_empty(path("small")));
}

TEST_F(Safety, ClosedStandardDescriptorsCatchNoOutput)
{
    const Bytes source = make_source("in.iso", 3 * 4096, 4);
    const Bytes image = expected_image(source, Model::E220);
    write_file(path("good.bin"), image);
    const std::vector<std::vector<int>> closings = {{0}, {1}, {2}, {0, 1}, {0, 2}, {1, 2}, {0, 1, 2}};
    for (const std::vector<int>& closed : closings) {
        SCOPED_TRACE(closed.size() == 3 ? "all" : std::to_string(closed.front()) + "," + std::to_string(closed.back()));
        ProcessOptions options;
        options.closed_descriptors = closed;
        const ProcessResult extracted = inspect({path("good.bin"), path("back.iso")}, options);
        EXPECT_EQ(extracted.exit_status, 0);
        EXPECT_EQ(read_file(path("back.iso")), source);
        const ProcessResult converted = quarnel({"/model:E220", path("in.iso"), path("out.bin")}, options);
        EXPECT_EQ(converted.exit_status, 0);
        EXPECT_EQ(read_file(path("out.bin")), image);
        EXPECT_EQ(read_file(path("good.bin")), image);
        EXPECT_EQ(read_file(path("in.iso")), source);
    }
}

bool strace_works()
{
    if (::access("/usr/bin/strace", X_OK) != 0) {
        return false;
    }
    return run_process({"/usr/bin/strace", "-o", "/dev/null", "/bin/true"}).exit_status == 0;
}

TEST_F(Safety, SignalDuringTheRenameMatchesTheDisk)
{
    if (!strace_works()) {
        GTEST_SKIP() << "strace is missing or cannot trace here";
    }
    const Bytes source = make_source("in.iso", 5 * 2048, 5);
    const Bytes image = expected_image(source, Model::Default);
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
        return run_process(command);
    };

    write_file(path("out.bin"), old);
    expect_success(traced("signal=SIGINT", QUARNEL_BINARY, {path("in.iso"), path("out.bin")}));
    EXPECT_EQ(read_file(path("out.bin")), image);

    write_file(path("out.bin"), old);
    const ProcessResult failed = traced("error=EXDEV:signal=SIGINT", QUARNEL_BINARY, {path("in.iso"), path("out.bin")});
    EXPECT_EQ(failed.end_signal, SIGINT);
    EXPECT_EQ(failed.standard_error, banner_and(kInterrupted));
    EXPECT_EQ(read_file(path("out.bin")), old);

    write_file(path("good.bin"), image);
    const ProcessResult extracted =
        traced("signal=SIGTERM", QUARNEL_INSPECT_BINARY, {path("good.bin"), path("back.iso")});
    EXPECT_EQ(extracted.exit_status, 0);
    EXPECT_EQ(extracted.end_signal, 0);
    EXPECT_EQ(read_file(path("back.iso")), source);
    EXPECT_EQ(entries(), (std::set<std::string>{"in.iso", "out.bin", "good.bin", "back.iso"}));
}

// A file-size limit without SIGXFSZ ignored is a write error, which cleans up too.
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
    for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1}) {
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
        EXPECT_EQ(result.standard_error, banner_and(kSuccess));
        EXPECT_EQ(left_in_work(), (std::set<std::string>{"out.bin"}));
        fs::remove(path("work/out.bin"));
    }
}

// The system accepts the destination path, although the temporary file's full path would exceed PATH_MAX.
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
    EXPECT_EQ(read_file(destination), expected_image(source, Model::Default));

    const std::string extracted = (directory / "back.iso").string();
    EXPECT_EQ(inspect({destination, extracted}).exit_status, 0);
    EXPECT_EQ(read_file(extracted), source);
    EXPECT_FALSE(has_temporary_file(directory));
}

TEST_F(Safety, ReplacingKeepsOwnerGroupAndExtendedAttributes)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root and a user 'nobody' to own the replaced file";
    }
    const Bytes source = make_source("in.iso", 4096, 7);
    write_file(path("out.bin"), Bytes{1});
    ASSERT_EQ(::chown(path("out.bin").c_str(), other->pw_uid, other->pw_gid), 0);
    fs::permissions(path("out.bin"), fs::perms(0640));
    if (::setxattr(path("out.bin").c_str(), "user.note", "kept", 4, 0) != 0) {
        GTEST_SKIP() << "no extended attributes on this file system";
    }
    const bool with_acl = set_acl(path("out.bin"), "u::rw,u:nobody:r,g::r,m::r,o::-");
    const std::string acl = read_attribute(path("out.bin"), kAccessAcl);
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
    EXPECT_EQ(read_attribute(path("out.bin"), "user.note"), "kept");
    if (with_acl) {
        EXPECT_EQ(read_attribute(path("out.bin"), kAccessAcl), acl);
    }
    if (with_capability) {
        EXPECT_LT(::getxattr(path("out.bin").c_str(), "security.capability", nullptr, 0), 0);
    }
    EXPECT_EQ(read_file(path("out.bin")), expected_image(source, Model::Default));
}

// A user may not replace what they may not write, as cp refuses, and what
// they may replace gives no other group the old group's rights.
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
        write_file(path(c.name), Bytes{'k'});
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
        EXPECT_EQ(read_file(path(c.name)), expected_image(source, Model::Default));
        struct stat info {};
        ASSERT_EQ(::stat(path(c.name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, *c.replaced_with);
        EXPECT_EQ(info.st_gid, other->pw_gid);
    }
    expect_failure(convert("not-the-users.bin"), kUnableToCreateDestination);
    // A sticky directory its group may write: renaming over a third user's file there would fail at the end.
    fs::create_directory(path("team"));
    ASSERT_EQ(::chown(path("team").c_str(), 0, other->pw_gid), 0);
    fs::permissions(path("team"), fs::perms(01770));
    write_file(path("team/theirs.bin"), Bytes{'k'});
    ASSERT_EQ(::chown(path("team/theirs.bin").c_str(), 12345, other->pw_gid), 0);
    fs::permissions(path("team/theirs.bin"), fs::perms(0660));
    expect_failure(convert("team/theirs.bin"), kUnableToCreateDestination);
    EXPECT_EQ(read_text(path("team/theirs.bin")), "k");
    // A directory the user may write but not list cannot be opened to flush
    // it; the new image is made durable all the same.
    fs::create_directory(path("drop"));
    fs::permissions(path("drop"), fs::perms(0733));
    expect_success(convert("drop/new.bin"));
    EXPECT_EQ(read_file(path("drop/new.bin")), expected_image(source, Model::Default));
    EXPECT_FALSE(has_temporary_file(path("home")));
    EXPECT_FALSE(has_temporary_file(dir_));
}

// A new file gets what `touch` gets there: a default ACL decides its
// permissions rather than the umask, a named user's entry included.
TEST_F(Safety, NewFileGetsWhatTheDirectorysDefaultAclGives)
{
    const Bytes source = make_source("in.iso", 4096, 12);
    test::write_file(path("good.bin"), test::expected_image(source, Model::Default));
    ProcessOptions options;
    options.umask = 022;
    for (const std::string acl : {"u::rw,g::r,o::-", "u::rw,u:nobody:rw,g::r,m::rw,o::-"}) {
        const std::string directory = path("acl-" + std::to_string(acl.size()));
        fs::create_directory(directory);
        if (!set_acl(directory, acl, "-dm")) {
            GTEST_SKIP() << "no setfacl or no ACLs here";
        }
        ASSERT_EQ(test::run_process({"/bin/sh", "-c", "umask 022 && touch " + directory + "/touched"}).exit_status, 0);
        expect_success(quarnel({path("in.iso"), directory + "/out.bin"}, options));
        EXPECT_EQ(inspect({path("good.bin"), directory + "/back.iso"}, options).exit_status, 0);
        for (const char* name : {"/out.bin", "/back.iso"}) {
            SCOPED_TRACE(directory + name);
            EXPECT_EQ(fs::status(directory + name).permissions(), fs::status(directory + "/touched").permissions());
            EXPECT_EQ(read_attribute(directory + name, kAccessAcl), read_attribute(directory + "/touched", kAccessAcl));
        }
    }
    // A replaced file that had no ACL gets none from a default ACL set after it was made.
    const std::string directory = path("acl-replaced");
    fs::create_directory(directory);
    for (const char* name : {"/out.bin", "/back.iso"}) {
        test::write_file(directory + name, Bytes{'o', 'l', 'd'});
        fs::permissions(directory + name, fs::perms(0660));
    }
    ASSERT_TRUE(set_acl(directory, "u:nobody:rw", "-dm"));
    expect_success(quarnel({path("in.iso"), directory + "/out.bin"}, options));
    EXPECT_EQ(inspect({path("good.bin"), directory + "/back.iso"}, options).exit_status, 0);
    for (const char* name : {"/out.bin", "/back.iso"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(read_attribute(directory + name, kAccessAcl), "");
        EXPECT_EQ(fs::status(directory + name).permissions(), fs::perms(0660));
    }
}

// An ACL is carried over also from a file that cannot be read (its user's own
// write-only file) or whose attributes cannot be listed (more than 64 KiB of
// names, on a tmpfs), so that its mask never becomes the owning group's rights.
TEST_F(Safety, AclIsCarriedWhereTheAttributesCannotBeListed)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr || ::access("/usr/sbin/runuser", X_OK) != 0 ||
        ::access("/usr/bin/setfacl", X_OK) != 0) {
        GTEST_SKIP() << "needs root, runuser, setfacl and a user 'nobody' to run as";
    }
    const Bytes source = make_source("in.iso", 4096, 13);
    fs::permissions(path("in.iso"), fs::perms(0644));
    fs::create_directory(path("home"));
    ASSERT_EQ(::chown(path("home").c_str(), other->pw_uid, other->pw_gid), 0);
    Mounted small{path("small")};
    fs::create_directory(small.directory);
    small.mounted = ::mount("tmpfs", small.directory.c_str(), "tmpfs", 0, "size=4m") == 0;
    const std::pair<const char*, const char*> cases[] = {{"home/write-only.bin", "u::w,u:root:r,g::-,o::-"},
                                                         {"small/many-names.bin", "u::rw,u:nobody:rw,g::-,o::-"}};
    for (const auto& [name, acl] : cases) {
        SCOPED_TRACE(name);
        const bool as_other = fs::path(name).parent_path() == "home";
        if (!as_other && !small.mounted) {
            continue;  // no tmpfs to be had here
        }
        test::write_file(path(name), Bytes{'k'});
        ASSERT_TRUE(set_acl(path(name), acl));
        ASSERT_EQ(::chown(path(name).c_str(), as_other ? other->pw_uid : 0, as_other ? other->pw_gid : 0), 0);
        for (int i = 0; i < 300 && !as_other; ++i) {
            ASSERT_EQ(::setxattr(path(name).c_str(), ("user." + std::string(240, 'n') + std::to_string(i)).c_str(), "v",
                                 1, 0),
                      0);
        }
        const std::string old_acl = read_attribute(path(name), kAccessAcl);
        const fs::perms old_permissions = fs::status(path(name)).permissions();
        const std::vector<std::string> arguments = {path("in.iso"), path(name)};
        expect_success(as_other ? as_user(*other, arguments) : quarnel(arguments));
        EXPECT_EQ(read_attribute(path(name), kAccessAcl), old_acl);
        EXPECT_EQ(fs::status(path(name)).permissions(), old_permissions);
        EXPECT_EQ(test::read_file(path(name)), test::expected_image(source, Model::Default));
    }
}

// No name in an append-only or immutable directory can be renamed over: the
// run finds that out before it makes anything there.
TEST_F(Safety, AppendOnlyOrImmutableDirectoryIsRefusedUpFront)
{
    if (!is_root()) {
        GTEST_SKIP() << "setting a directory append-only or immutable needs root";
    }
    const Bytes source = make_source("in.iso", 4096, 14);
    test::write_file(path("good.bin"), test::expected_image(source, Model::Default));
    fs::create_directory(path("work"));
    test::write_file(path("work/out.bin"), Bytes{'o', 'l', 'd'});
    for (const char* flag : {"+a", "+i"}) {
        SCOPED_TRACE(flag);
        if (test::run_process({"/usr/bin/chattr", flag, path("work")}).exit_status != 0) {
            GTEST_SKIP() << "no chattr, or no such directories here";
        }
        const ProcessResult converted = quarnel({path("in.iso"), path("work/out.bin")});
        const ProcessResult extracted = inspect({path("good.bin"), path("work/back.iso")});
        const std::set<std::string> left = left_in_work();
        ASSERT_EQ(test::run_process({"/usr/bin/chattr", "-ai", path("work")}).exit_status, 0);
        expect_failure(converted, kUnableToCreateDestination);
        EXPECT_EQ(extracted.standard_error, kUnableToCreateExtracted);
        EXPECT_EQ(left, std::set<std::string>{"out.bin"});
        EXPECT_EQ(read_text(path("work/out.bin")), "old");
    }
}

// Exit status 0 survives a power cut. An ext4 file system in a file, mounted
// through a loop device, commits its journal only every ten minutes: a copy of
// the file taken the moment the program has exited is what a power cut leaves,
// and mounting it replays the journal as a reboot does.
TEST_F(Safety, ExitZeroSurvivesAPowerCut)
{
    const passwd* other = other_user();
    if (!is_root() || other == nullptr) {
        GTEST_SKIP() << "needs root, loop devices and a user 'nobody' to own the replaced file";
    }
    auto mount_ext4 = [&](const char* name, Mounted& mount) {
        fs::create_directory(mount.directory);
        mount.mounted =
            test::run_process({"/bin/mount", "-o", "loop,commit=600", path(name), mount.directory}).exit_status == 0;
    };
    make_sparse_file(path("disk.img"), std::uintmax_t{64} << 20);
    Mounted disk{path("disk")};
    if (test::run_process({"/sbin/mkfs.ext4", "-q", path("disk.img")}).exit_status == 0) {
        mount_ext4("disk.img", disk);
    }
    if (!disk.mounted) {
        GTEST_SKIP() << "no ext4 file system on a loop device here";
    }
    const Bytes source = make_source("in.iso", 300 * 2048, 10);
    const Bytes image = test::expected_image(source, Model::Default);
    test::write_file(path("good.bin"), image);
    const std::pair<std::vector<std::string>, const Bytes&> runs[] = {
        {test::built_program(QUARNEL_BINARY, {path("in.iso"), path("disk/new.bin")}), image},
        {test::built_program(QUARNEL_INSPECT_BINARY, {path("good.bin"), path("disk/new.bin")}), source}};
    for (const auto& [command, expected] : runs) {
        SCOPED_TRACE(command.front());
        test::write_file(path("disk/new.bin"), Bytes{'o', 'l', 'd'});
        ASSERT_EQ(::chown(path("disk/new.bin").c_str(), other->pw_uid, other->pw_gid), 0);
        fs::permissions(path("disk/new.bin"), fs::perms(0640));
        ASSERT_EQ(::setxattr(path("disk/new.bin").c_str(), "user.note", "kept", 4, 0), 0);
        ASSERT_EQ(test::run_process({"/bin/sync", "-f", path("disk")}).exit_status, 0);

        EXPECT_EQ(test::run_process(command).exit_status, 0);
        fs::remove(path("cut.img"));
        ASSERT_EQ(test::run_process({"/bin/cp", "--sparse=always", path("disk.img"), path("cut.img")}).exit_status, 0);
        Mounted cut{path("cut")};
        mount_ext4("cut.img", cut);
        ASSERT_TRUE(cut.mounted);
        struct stat info {};
        ASSERT_EQ(::stat(path("cut/new.bin").c_str(), &info), 0);
        EXPECT_TRUE(test::read_file(path("cut/new.bin")) == expected) << "holds " << info.st_size << " bytes";
        EXPECT_EQ(info.st_mode & 07777, 0640U);
        EXPECT_EQ(info.st_uid, other->pw_uid);
        EXPECT_EQ(read_attribute(path("cut/new.bin"), "user.note"), "kept");
        EXPECT_FALSE(has_temporary_file(path("cut")));
    }
}

// Where a file system ignores case, another spelling of the source's name is
// the source, even where its lookups give the two spellings two inode
// numbers (FUSE exFAT); and a disc's two names that differ in case alone
// are not unpacked there. Each file system is tried where it can be mounted.
TEST_F(Safety, OtherCaseOfTheSourcesNameIsTheSameFile)
{
    if (!is_root()) {
        GTEST_SKIP() << "mounting file systems needs root";
    }
    struct Case {
        const char* name;
        std::vector<std::string> make;
        std::vector<std::string> mount;
        bool folded_directory = false;  // chattr +F
    };
    const Case cases[] = {
        {"vfat", {"/sbin/mkfs.vfat"}, {"-o", "loop"}},
        {"exfat", {"/sbin/mkfs.exfat"}, {"-t", "exfat", "-o", "loop"}},
        {"exfat-fuse", {"/sbin/mkfs.exfat"}, {"-t", "exfat-fuse", "-o", "loop"}},
        {"ntfs-3g", {"/sbin/mkfs.ntfs", "-Q", "-F"}, {"-t", "lowntfs-3g", "-o", "ignore_case"}},
        {"ext4-casefold", {"/sbin/mkfs.ext4", "-q", "-O", "casefold"}, {"-o", "loop"}, true},
    };
    const Bytes source = random_bytes(4096, 16);
    const Bytes image = expected_image(source, Model::Default);
    fs::create_directories(dir_ / "cases/Docs");
    write_file(path("cases/Docs/readme.txt"), Bytes(10, 'a'));
    write_file(path("cases/Docs/README.TXT"), Bytes(20, 'b'));
    if (run_process({"/usr/bin/genisoimage", "-quiet", "-J", "-o", path("cases.iso"), path("cases")}).exit_status !=
        0) {
        GTEST_SKIP() << "genisoimage is needed";
    }
    expect_success(quarnel({path("cases.iso"), path("cases.bin")}));
    std::string not_mounted;
    int tried = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mounted mounted{path(c.name)};
        fs::create_directory(mounted.directory);
        make_sparse_file(mounted.directory + ".img", std::uintmax_t{64} << 20);
        std::vector<std::string> make = c.make;
        make.push_back(mounted.directory + ".img");
        std::vector<std::string> mount = {"/bin/mount"};
        mount.insert(mount.end(), c.mount.begin(), c.mount.end());
        mount.insert(mount.end(), {mounted.directory + ".img", mounted.directory});
        mounted.mounted = run_process(make).exit_status == 0 && run_process(mount).exit_status == 0;
        const std::string at = mounted.directory + (c.folded_directory ? "/folded/" : "/");
        if (mounted.mounted && c.folded_directory) {
            fs::create_directory(at);
            mounted.mounted = run_process({"/usr/bin/chattr", "+F", at}).exit_status == 0;
        }
        if (!mounted.mounted) {
            not_mounted += std::string(" ") + c.name;
            continue;
        }
        ++tried;
        write_file(at + "disc.iso", source);
        write_file(at + "image-\u00e9.bin", image);
        expect_failure(quarnel({at + "disc.iso", at + "DISC.ISO"}), kSameFile);
        const ProcessResult inspected = inspect({at + "image-\u00e9.bin", at + "Image-\u00e9.Bin"});
        EXPECT_EQ(inspected.standard_error, kInspectSameFile);
        EXPECT_EQ(read_file(at + "disc.iso"), source);
        EXPECT_EQ(read_file(at + "image-\u00e9.bin"), image);
        const ProcessResult unpacked = inspect({"/unpack:" + at + "unpacked", path("cases.bin")});
        EXPECT_EQ(unpacked.standard_error, "Error: \"Docs/readme.txt\" and another name of its folder are one name "
                                           "where \"" +
                                               at +
                                               "unpacked\" would be (they differ in letter case, "
                                               "say); nothing was unpacked.\n");
        EXPECT_EQ(names_in(at), (std::set<std::string>{"disc.iso", "image-\u00e9.bin"}));
    }
    if (tried == 0) {
        GTEST_SKIP() << "none of these file systems can be mounted here:" << not_mounted;
    }
    if (!not_mounted.empty()) {
        std::cout << "not mounted here, so not tried:" << not_mounted << "\n";
    }
}

// Both `quarnel /dev/loop0 /dev/loop0` and two nodes of one device are refused.
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
    if (run_process({"/bin/dd", "if=" + path("disc"), "of=/dev/null", "count=0", "status=none"}).exit_status != 0) {
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
