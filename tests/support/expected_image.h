// The modem image a source must become, built byte by byte at the documented
// offsets, independently of the converter's record structures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel::test {

using Bytes = std::vector<std::uint8_t>;

enum class Model { Default, E220 };

Bytes expected_image(const Bytes& source, Model model);

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
Bytes random_bytes(std::size_t size, unsigned seed);

}  // namespace quarnel::test
