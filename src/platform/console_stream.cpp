#include "platform/console_stream.h"

#include "platform/platform.h"

#ifdef _WIN32
#include <io.h>
#include <string>
#include <windows.h>
#endif

namespace quarnel {
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

}  // namespace

bool write_text(std::FILE* stream, std::string_view text)
{
#ifdef _WIN32
    if (HANDLE console = console_behind(stream); console != nullptr) {
        return std::fflush(stream) == 0 && write_to_console(console, text);
    }
#endif
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

}  // namespace quarnel
