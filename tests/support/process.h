// Runs a program as a child process and captures what it leaves behind.
#pragma once

#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace quarnel::test {

struct ProcessResult {
    std::string standard_output;
    std::string standard_error;
    int exit_status = -1;  // 0..255 when the process exited
    int end_signal = 0;    // the signal that ended it, otherwise 0
};

struct ProcessOptions {
    std::optional<unsigned long long> file_size_limit;  // RLIMIT_FSIZE
    std::string working_directory;
    std::string standard_output_file;     // instead of the captured pipe
    std::vector<int> closed_descriptors;  // closed in the child, as `<&- >&- 2>&-` do
    std::vector<int> ignored_signals;     // SIG_IGN in the child, as a launcher may leave them
    std::optional<unsigned> umask;
    bool close_output_at_start = false;         // standard output is a pipe nobody reads (`| true`)
    bool close_error_after_first_line = false;  // the reader of standard error stops early (`2>&1 | head -n1`)
    bool error_on_terminal = false;  // standard error a pseudo-terminal of the test's own, input and output /dev/null
    bool traced = false;             // stopped at its start for the test to trace (PTRACE_TRACEME)
    unsigned short terminal_columns = 0;                           // that terminal's width; 0 leaves it unset
    std::vector<std::pair<std::string, std::string>> environment;  // variables set in the child
    // Told the child and all it has written on standard error so far, after each read of it.
    std::function<void(pid_t child, const std::string& error_so_far)> on_error_output;

    static ProcessOptions with_file_size_limit(unsigned long long bytes)
    {
        ProcessOptions options;
        options.file_size_limit = bytes;
        options.ignored_signals = {SIGXFSZ};  // as a shell with the limit set leaves it
        return options;
    }
    static ProcessOptions with_output_to(std::string file)
    {
        ProcessOptions options;
        options.standard_output_file = std::move(file);
        return options;
    }
    static ProcessOptions in_directory(std::string directory)
    {
        ProcessOptions options;
        options.working_directory = std::move(directory);
        return options;
    }
};

// The command line that starts a program this project built: through the
// emulator that runs the tests when they were cross-built for another
// architecture, since the machine may not start foreign executables itself.
std::vector<std::string> built_program(const std::string& program, std::vector<std::string> arguments = {});

// Standard error less what a coverage build's runtime adds to it.
std::string without_coverage_complaints(const std::string& text);

ProcessResult run_process(const std::vector<std::string>& arguments, const ProcessOptions& options = {});

// A started child whose output goes to the given files; for tests that signal it midway.
pid_t start_process(const std::vector<std::string>& arguments, const std::string& standard_error_file,
                    const ProcessOptions& options = {});
ProcessResult wait_process(pid_t pid, const std::string& standard_error_file);

}  // namespace quarnel::test
