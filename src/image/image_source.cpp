#include "image/image_source.h"

#include <algorithm>
#include <cstddef>

namespace quarnel {

std::int64_t MemoryImageSource::read_at(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    if (offset >= bytes_.size()) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return static_cast<std::int64_t>(count);
}

}  // namespace quarnel
