#include "platform/file_calls.h"

#include <io.h>
#include <string_view>

#include "platform/reparse_point.h"

namespace quarnel {
namespace fs = std::filesystem;

static_assert(kWindowsDirectoryAttribute == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kWindowsReparsePointAttribute == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(IsReparseTagNameSurrogate(kWindowsNameSurrogateTag) &&
              IsReparseTagNameSurrogate(IO_REPARSE_TAG_SYMLINK) &&
              IsReparseTagNameSurrogate(IO_REPARSE_TAG_MOUNT_POINT));

namespace {

constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
constexpr std::wstring_view kNetworkPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

}  // namespace

// The path GetFullPathNameW makes of it is the file a call without the
// prefix would reach (`.` and `..` resolved, a last dot or space dropped, a
// device name such as NUL in the \\.\ namespace); the prefix then takes it
// as it is. fs::absolute would leave an absolute path as written.
std::wstring windows_path(const fs::path& path)
{
    const std::wstring& given = path.native();
    if (given.empty() || given.starts_with(kLocalPrefix) || given.starts_with(kDevicePrefix)) {
        return given;
    }
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);  // the size asked for, the terminating zero included
        length = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return given;
    }
    full.resize(length);
    if (full.starts_with(kLocalPrefix) || full.starts_with(kDevicePrefix)) {
        return full;
    }
    return full.starts_with(L"\\\\") ? std::wstring(kNetworkPrefix) + full.substr(2)
                                     : std::wstring(kLocalPrefix) + full;
}

HANDLE handle_of(int descriptor)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands the handle over as an integer.
    return reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
}

QueriedFile::QueriedFile(const fs::path& path)
    : handle_(::CreateFileW(windows_path(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr))
{
}

QueriedFile::~QueriedFile()
{
    if (is_open()) {
        ::CloseHandle(handle_);
    }
}

int QueriedFile::information(BY_HANDLE_FILE_INFORMATION& info) const
{
    return is_open() && ::GetFileInformationByHandle(handle_, &info) != 0 ? 0 : -1;
}

std::wstring QueriedFile::final_path() const
{
    if (!is_open()) {
        return {};
    }
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle_, path.data(), static_cast<DWORD>(path.size()), kFlags);
    if (length >= path.size()) {
        path.resize(length);  // the size asked for, the terminating zero included
        length = ::GetFinalPathNameByHandleW(handle_, path.data(), static_cast<DWORD>(path.size()), kFlags);
    }
    if (length == 0 || length >= path.size()) {
        return {};
    }
    path.resize(length);
    if (path.starts_with(kNetworkPrefix)) {
        path.replace(0, kNetworkPrefix.size(), L"\\\\");
    } else if (path.starts_with(kLocalPrefix)) {
        path.erase(0, kLocalPrefix.size());
    }
    return path;
}

}  // namespace quarnel
