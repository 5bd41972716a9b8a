// A name as the disc and the messages take it: UTF-8 (on Linux the bytes as
// they are), and back.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quarnel {

inline std::string utf8_of(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

inline std::filesystem::path path_from_utf8(std::string_view text) { return {std::u8string(text.begin(), text.end())}; }

}  // namespace quarnel
