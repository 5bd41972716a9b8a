#include "support/expected_image.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string_view>

#include "image/checksum.h"
#include "support/image_bytes.h"

namespace quarnel::test {
namespace {

void put_text(Bytes& image, std::size_t at, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        image[at + i] = static_cast<std::uint8_t>(text[i]);
    }
}

std::uint16_t checksum_of(const Bytes& image, std::size_t at, std::size_t size)
{
    return block_checksum_reference(std::span<const std::uint8_t>(image.data() + at, size));
}

void put_record_header(Bytes& image, std::size_t at, std::uint32_t header_length, unsigned type_code,
                       std::uint32_t payload_length)
{
    put32(image, at + 0, 0xA55AAA55);
    put32(image, at + 4, header_length);
    put16(image, at + 8, 1);
    put_text(image, at + 12, "HWEW11.1");
    put16(image, at + 22, type_code);
    put32(image, at + 24, payload_length);
    put_text(image, at + 28, "2008.06.14");
    put_text(image, at + 44, "21.13.06");
    put_text(image, at + 60, "INPUT");
    put16(image, at + 94, 4096);
    reseal(image, at);
}

}  // namespace

Bytes expected_image(const Bytes& source, Model model)
{
    const std::size_t blocks = (source.size() + 4095) / 4096;
    const std::size_t header_area = 418 + 2 * blocks;
    Bytes image(header_area, 0);
    const bool e220 = model == Model::E220;

    put_record_header(image, 92, 100, e220 ? 0xF200 : 0x000A, 128);
    put_text(image, 192, "zarvotellion_custom_iso\nhttps://quarnel.example.org\n");
    put16(image, 190, checksum_of(image, 192, 128));

    put_record_header(image, 320, static_cast<std::uint32_t>(98 + 2 * blocks), e220 ? 0xB000 : 0x000B,
                      static_cast<std::uint32_t>(source.size()));
    const Bytes table = checksum_table(source);
    std::copy(table.begin(), table.end(), image.begin() + 418);
    image.insert(image.end(), source.begin(), source.end());
    return image;
}

Bytes checksum_table(const Bytes& payload)
{
    Bytes table(2 * ((payload.size() + 4095) / 4096));
    for (std::size_t i = 0; i < table.size() / 2; ++i) {
        const std::size_t length = std::min<std::size_t>(4096, payload.size() - 4096 * i);
        put16(table, 2 * i, block_checksum_reference(std::span(payload.data() + 4096 * i, length)));
    }
    return table;
}

ScratchDirectory::ScratchDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    path = pattern;
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

Bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes random_bytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

std::string bytes_named(const std::string& name, std::size_t size)
{
    std::uint32_t seed = 2166136261U;
    for (const char c : name) {
        seed = (seed ^ static_cast<unsigned char>(c)) * 16777619U;
    }
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245U + 12345U;
        byte = static_cast<char>(seed >> 16);
    }
    return bytes;
}

}  // namespace quarnel::test
