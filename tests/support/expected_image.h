// The modem image a source must become, built byte by byte at the documented
// offsets, independently of the converter's record structures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarnel::test {

using Bytes = std::vector<std::uint8_t>;

enum class Model { Default, E220 };

Bytes expected_image(const Bytes& source, Model model);
// The block checksum table of `payload`, from the reference checksum.
Bytes checksum_table(const Bytes& payload);

// A new directory of the test's own in the temporary one, removed with all it holds.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::filesystem::path path;
};

Bytes read_file(const std::string& path);
std::string read_text(const std::string& path);  // the same bytes, as a string
void write_file(const std::string& path, const Bytes& bytes);
Bytes random_bytes(std::size_t size, unsigned seed);
// Bytes made from a name alone, so that a file's contents say which file it is.
std::string bytes_named(const std::string& name, std::size_t size);

}  // namespace quarnel::test
