#include "io/console.h"

#include <cstdio>
#include <string>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace quarnel::console {
namespace {

#ifdef _WIN32

// The console a stream writes to, or nullptr for a file, a pipe or NUL: a
// console alone answers GetConsoleMode.
HANDLE console_behind(std::FILE* stream)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands the handle over as an integer.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0 ? handle : nullptr;
}

// A console shows UTF-16 text whatever its code page; each newline becomes a
// line end as the text stream would write it.
bool write_to_console(HANDLE console, std::string_view text)
{
    const int length = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0)),
                      L'\0');
    (void)::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), static_cast<int>(wide.size()));
    std::wstring lines;
    for (const wchar_t c : wide) {
        if (c == L'\n') {
            lines += L'\r';
        }
        lines += c;
    }
    DWORD written = 0;
    return ::WriteConsoleW(console, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) != 0 &&
           written == lines.size();
}

#endif

// Writes text on a stream and flushes it: on a Windows console through the
// console's own call, so that non-ASCII file names show as they are; anywhere
// else the UTF-8 bytes as they stand.
bool write_text(std::FILE* stream, std::string_view text)
{
#ifdef _WIN32
    if (HANDLE console = console_behind(stream); console != nullptr) {
        return std::fflush(stream) == 0 && write_to_console(console, text);
    }
#endif
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

std::function<void()>& transient_eraser()
{
    static std::function<void()> eraser;
    return eraser;
}

void erase_transient()
{
    if (transient_eraser()) {
        transient_eraser()();
    }
}

}  // namespace

void print_transient(std::string_view text)
{
    (void)std::fwrite(text.data(), 1, text.size(), stderr);
    (void)std::fflush(stderr);
}

void set_transient_eraser(std::function<void()> eraser) { transient_eraser() = std::move(eraser); }

void print(std::string_view message)
{
    erase_transient();
    // Where standard error itself fails there is nowhere left to report it.
    (void)write_text(stderr, message);
}

int fail(std::string_view message)
{
    print(message);
    return -1;
}

int write_standard_output(std::string_view text)
{
    erase_transient();
    return write_text(stdout, text) ? 0 : -1;
}

}  // namespace quarnel::console
