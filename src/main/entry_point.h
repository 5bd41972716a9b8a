// The start-up and the end every program of quarnel shares, around the run of
// its command line.
#pragma once

#include <cstddef>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "console/console.h"
#include "console/progress_line.h"
#include "main/options.h"
#include "platform/arguments.h"
#include "platform/platform.h"
#include "platform/startup.h"
#include "texts/program_texts.h"

namespace quarnel {

using ProgramRun = int (*)(std::span<const ArgChar* const> arguments);

// The body of every main(): the process is made ready before anything is
// opened or printed (without its standard descriptors it has nowhere to
// report), then the command line runs. Allocation policy: containers are used
// freely and running out of memory throws std::bad_alloc, caught here alone;
// the unwinding has run every destructor (a temporary file removed, a worker
// thread joined) before `unable_to_allocate` prints. Nothing else is expected
// to throw. The result is the exit status.
inline int run_program(std::span<const ArgChar* const> arguments, ProgramRun run, std::string_view unable_to_allocate)
{
    if (prepare_process() != 0) {
        return -1;
    }
    try {
        return run(arguments);
    } catch (const std::bad_alloc&) {
        return console::fail(unable_to_allocate);
    }
}

// Prints --help's or --version's text on standard output, or says on
// standard error that it could not; 0 / -1.
[[nodiscard]] inline int show_or_fail(std::string_view text, std::string_view failure)
{
    return console::write_standard_output(text) == 0 ? 0 : console::fail(failure);
}

// --help or --version as the sole argument (a path named so is given as
// ./--help): its text shown, the exit status returned; nothing for any other
// command line.
[[nodiscard]] inline std::optional<int> show_help_or_version(std::span<const ArgChar* const> arguments,
                                                             std::string_view help, std::string_view version)
{
    if (arguments.size() == 2 && is_exact_option(arguments[1], "--help")) {
        return show_or_fail(help, texts::kUnableToWriteHelp);
    }
    if (arguments.size() == 2 && is_exact_option(arguments[1], "--version")) {
        return show_or_fail(version, texts::kUnableToWriteVersion);
    }
    return std::nullopt;
}

// Runs the request a command line asked for, a progress line drawn when
// standard error is a terminal; prints `usage` when there is none.
template <typename Request>
[[nodiscard]] int run_request(std::optional<Request> request, std::string_view usage, int (*run)(const Request&))
{
    if (!request) {
        console::print(usage);
        return -1;
    }
    TerminalProgress progress;
    request->progress = progress.callback();
    return run(*request);
}

}  // namespace quarnel

// The entry point's signature: on Windows wmain takes the arguments as wide
// strings, so that paths in any script reach the program intact.
#ifdef _WIN32
#define QUARNEL_MAIN int wmain(int argc, wchar_t** argv)
#elif defined(__linux__)
#define QUARNEL_MAIN int main(int argc, char** argv)
#endif

// The arguments of QUARNEL_MAIN as run_program takes them.
#define QUARNEL_ARGUMENTS std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc))
