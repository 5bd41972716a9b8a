// Random access to the bytes of an image, whatever holds them.
#pragma once

#include <cstdint>
#include <span>

namespace quarnel {

class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills the buffer from the offset; the count read (short only at the end), or -1.
    [[nodiscard]] virtual std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;
};

class MemoryImageSource final : public ImageSource {
public:
    explicit MemoryImageSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    [[nodiscard]] std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override;

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace quarnel
