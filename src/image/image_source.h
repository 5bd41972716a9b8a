// Random access to the bytes of an image, whatever holds them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace quarnel {

// A check of bytes just read, which may run on another thread than the caller's.
using ReadCheck = std::function<void(std::span<const std::uint8_t> bytes)>;

class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills the buffer from the offset; the count read (short only at the end), or -1.
    [[nodiscard]] virtual std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

    // Announces a coming read_at of this range into this buffer, with a check
    // to run on the bytes once they are read, so that a source may do both
    // now, on another thread, beside the caller's work. `check` must touch
    // nothing the caller uses meanwhile. The announced reads come back in the
    // order they were announced; the caller leaves each buffer alone until
    // its read_at, or until settle_read_ahead(). True when the source took the
    // announcement: a read_at that then fills the buffer has run the check.
    [[nodiscard]] virtual bool read_ahead(std::uint64_t /*offset*/, std::span<std::uint8_t> /*buffer*/,
                                          const ReadCheck& /*check*/)
    {
        return false;
    }

    // Waits for the announced reads under way to be over and drops every
    // announced read: their buffers may then be freed.
    virtual void settle_read_ahead() {}
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
