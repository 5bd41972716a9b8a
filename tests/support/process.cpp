#include "support/process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <regex>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/expected_image.h"

namespace quarnel::test {
namespace {

// Every signal at its default, none blocked, whatever the test runner was
// started with; then what the test asks for.
void set_child_signals(const ProcessOptions& options)
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (signal_number != SIGKILL && signal_number != SIGSTOP) {
            ::signal(signal_number, SIG_DFL);
        }
    }
    for (int signal_number : options.ignored_signals) {
        ::signal(signal_number, SIG_IGN);
    }
    if (options.file_size_limit) {
        const rlimit limit{*options.file_size_limit, *options.file_size_limit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        // A coverage build's counters, written at exit under this limit, would
        // be cut short and spoil every later run's: they go nowhere instead.
        ::setenv("GCOV_PREFIX", "/dev/null", 1);
    }
    // Core dumps of the signals that make them would only litter the machine.
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
}

void set_child_state(const ProcessOptions& options)
{
    set_child_signals(options);
    if (options.umask) {
        ::umask(static_cast<mode_t>(*options.umask));
    }
    for (int descriptor : options.closed_descriptors) {
        ::close(descriptor);
    }
    for (const auto& [name, value] : options.environment) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

[[noreturn]] void exec_child(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

void drain(pid_t pid, int out_fd, int err_fd, const ProcessOptions& options, ProcessResult& result)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.standard_output, &result.standard_error};
    int open_count = out_fd < 0 ? 1 : 2;
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
                if (i == 1 && options.on_error_output) {
                    options.on_error_output(pid, *sinks[i]);
                }
            }
            const bool stop_early =
                i == 1 && options.close_error_after_first_line && sinks[i]->find('\n') != std::string::npos;
            if (got <= 0 || stop_early) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

void record_status(int status, ProcessResult& result)
{
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.end_signal = WTERMSIG(status);
    }
}

// The pipe, or with error_on_terminal the pseudo-terminal, that standard
// error goes through: {the test's end, the child's end}.
void open_error_channel(const ProcessOptions& options, int (&ends)[2])
{
    if (!options.error_on_terminal) {
        if (::pipe(ends) != 0) {
            std::abort();
        }
        return;
    }
    ends[0] = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (ends[0] < 0 || ::grantpt(ends[0]) != 0 || ::unlockpt(ends[0]) != 0) {
        std::abort();
    }
    // Opened here so that reading the test's end cannot find it closed before the child has it.
    ends[1] = ::open(::ptsname(ends[0]), O_RDWR | O_NOCTTY);
    if (options.terminal_columns != 0) {
        const winsize size{24, options.terminal_columns, 0, 0};
        ::ioctl(ends[1], TIOCSWINSZ, &size);
    }
}

}  // namespace

// A coverage build's runtime complains on standard error when a file-size
// limit, or running as another user, keeps it from saving its counters, and
// later runs find the counters it left cut short; that is the test's doing,
// not the program's.
std::string without_coverage_complaints(const std::string& text)
{
    static const std::regex complaint("^(?:libgcov profiling error:|profiling:)[^\n]*\n?", std::regex::multiline);
    return std::regex_replace(text, complaint, "");
}

std::vector<std::string> built_program(const std::string& program, std::vector<std::string> arguments)
{
    std::vector<std::string> command = {QUARNEL_EMULATOR_COMMAND};
    command.push_back(program);
    command.insert(command.end(), std::make_move_iterator(arguments.begin()), std::make_move_iterator(arguments.end()));
    return command;
}

ProcessResult run_process(const std::vector<std::string>& arguments, const ProcessOptions& options)
{
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0) {
        std::abort();
    }
    open_error_channel(options, err_pipe);
    if (options.close_output_at_start) {
        // Before the child starts, so that its every write finds no reader.
        ::close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_pipe[1], STDOUT_FILENO);
        if (!options.standard_output_file.empty()) {
            ::dup2(::open(options.standard_output_file.c_str(), O_WRONLY), STDOUT_FILENO);
        }
        if (options.error_on_terminal) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        ::dup2(err_pipe[1], STDERR_FILENO);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0) {
            ::_exit(126);
        }
        set_child_state(options);
        exec_child(arguments);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    ProcessResult result;
    // A pseudo-terminal reads EIO once the child's end is closed: the end of its output.
    drain(pid, out_pipe[0], err_pipe[0], options, result);
    result.standard_error = without_coverage_complaints(result.standard_error);
    int status = 0;
    ::waitpid(pid, &status, 0);
    record_status(status, result);
    return result;
}

pid_t start_process(const std::vector<std::string>& arguments, const std::string& standard_error_file,
                    const ProcessOptions& options)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err = ::open(standard_error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, STDERR_FILENO);
        ::close(err);
        set_child_state(options);
        if (options.traced) {
            ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        }
        exec_child(arguments);
    }
    return pid;
}

ProcessResult wait_process(pid_t pid, const std::string& standard_error_file)
{
    ProcessResult result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    record_status(status, result);
    result.standard_error = without_coverage_complaints(read_text(standard_error_file));
    return result;
}

}  // namespace quarnel::test
