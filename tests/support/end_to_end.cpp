#include "support/end_to_end.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/expected_image.h"

namespace quarnel::test {

namespace fs = std::filesystem;

std::string banner_and(std::string_view tail) { return std::string(kBanner) + std::string(tail); }

std::string EndToEnd::path(const std::string& name) const { return (dir_ / name).string(); }

ProcessResult EndToEnd::quarnel(std::vector<std::string> arguments, const ProcessOptions& options)
{
    return run_process(built_program(QUARNEL_BINARY, std::move(arguments)), options);
}

ProcessResult EndToEnd::inspect(std::vector<std::string> arguments, const ProcessOptions& options)
{
    return run_process(built_program(QUARNEL_INSPECT_BINARY, std::move(arguments)), options);
}

std::set<std::string> names_in(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::set<std::string> EndToEnd::entries() const { return names_in(dir_); }

ProcessResult EndToEnd::run_stopped_midway(const std::vector<std::string>& arguments,
                                           const std::function<void(pid_t)>& midway, const ProcessOptions& options)
{
    fs::create_directories(dir_ / "work");
    const pid_t pid = start_and_pause(dir_ / "work", arguments, options);
    midway(pid);
    ::kill(pid, SIGCONT);
    return wait_process(pid, path("work/stderr.txt"));
}

ProcessResult EndToEnd::signal_midway(const std::vector<std::string>& arguments, int signal_number,
                                      const ProcessOptions& options)
{
    return run_stopped_midway(
        arguments, [signal_number](pid_t pid) { ::kill(pid, signal_number); }, options);
}

std::set<std::string> EndToEnd::left_in_work() const
{
    std::set<std::string> names = names_in(dir_ / "work");
    names.erase("stderr.txt");
    return names;
}

void EndToEnd::expect_failure(const ProcessResult& result, std::string_view message)
{
    EXPECT_EQ(result.standard_error, banner_and(message));
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.exit_status, kFailureStatus);
}

void EndToEnd::expect_success(const ProcessResult& result)
{
    EXPECT_EQ(result.standard_error, banner_and(kSuccess));
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.exit_status, 0);
}

Mounted::~Mounted()
{
    if (mounted) {
        ::umount2(directory.c_str(), MNT_DETACH);
    }
}

void make_sparse_file(const fs::path& path, std::uintmax_t length)
{
    std::ofstream{path};
    fs::resize_file(path, length);
}

bool has_temporary_file(const fs::path& dir)
{
    const std::set<std::string> names = names_in(dir);
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& name) { return name.starts_with(".quarnel-"); });
}

// Under an emulator (a cross build's tests) a tracer meets the emulator's own
// calls and never finds its stop: there the program is watched from outside,
// the stop sent once its temporary file shows.
pid_t start_and_pause_emulated(const fs::path& dir, const std::vector<std::string>& arguments,
                               const ProcessOptions& options)
{
    const pid_t pid = start_process(arguments, (dir / "stderr.txt").string(), options);
    siginfo_t info{};
    const auto exited = [&] {
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
    };
    while (!has_temporary_file(dir) && !exited()) {
        std::this_thread::yield();
    }
    ::kill(pid, SIGSTOP);
    int status = 0;
    const bool stopped = ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
    EXPECT_TRUE(stopped && has_temporary_file(dir)) << "the program ended before the test could stop it midway";
    return pid;
}

pid_t start_and_pause(const fs::path& dir, const std::vector<std::string>& arguments, const ProcessOptions& options)
{
    if (built_program("").size() > 1) {
        return start_and_pause_emulated(dir, arguments, options);
    }
    ProcessOptions traced = options;
    traced.traced = true;
    const pid_t pid = start_process(arguments, (dir / "stderr.txt").string(), traced);
    int status = 0;
    bool in_call = false;  // between a system call's entry and its return
    bool stopped = false;
    // Traced, the program waits at each of its system calls while the test
    // looks for its temporary file: it cannot have gone on, let alone ended.
    for (bool exec_stop = true; !stopped && ::waitpid(pid, &status, 0) == pid && WIFSTOPPED(status);
         exec_stop = false) {
        int pass_on = WSTOPSIG(status);
        if (exec_stop || pass_on == (SIGTRAP | 0x80)) {
            in_call = !exec_stop && !in_call;
            pass_on = 0;
        }
        if (exec_stop) {
            ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
        }
        if (!exec_stop && !in_call && has_temporary_file(dir)) {
            // Stopped where the call returns, then let go: the stop is the first thing it does untraced.
            ::kill(pid, SIGSTOP);
            ::ptrace(PTRACE_DETACH, pid, nullptr, 0);
            stopped = ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
        } else {
            ::ptrace(PTRACE_SYSCALL, pid, nullptr, pass_on);
        }
    }
    EXPECT_TRUE(stopped) << "the program ended before the test could stop it midway";
    return pid;
}

fs::path scratch_directory()
{
    std::error_code error;
    return fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                  : fs::temp_directory_path();
}

bool make_iso(const fs::path& dir, const std::string& iso)
{
    fs::create_directories(dir / "tree/docs");
    write_file((dir / "tree/README.TXT").string(), Bytes(3000, 'r'));
    write_file((dir / "tree/docs/DATA.BIN").string(), random_bytes(70000, 3));
    const ProcessResult made = run_process(
        {"/usr/bin/genisoimage", "-quiet", "-r", "-J", "-V", "QUARNEL", "-o", iso, (dir / "tree").string()});
    return made.exit_status == 0;
}

}  // namespace quarnel::test
