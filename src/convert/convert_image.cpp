#include "convert/convert_image.h"

#include <memory>
#include <new>

#include "convert/file_io.h"
#include "convert/interrupt.h"
#include "convert/messages.h"
#include "convert/output_file.h"
#include "image/checksum.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Large sequential reads and writes; a whole number of checksum blocks.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
static_assert(kChunkSize % kBlockSize == 0);

struct Buffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;

    std::span<std::uint8_t> span() const { return {bytes.get(), size}; }
};

// Zero-filled, or empty when memory is short.
Buffer allocate(std::size_t size)
{
    Buffer buffer{std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]()), size};
    if (!buffer.bytes) {
        buffer.size = 0;
    }
    return buffer;
}

int fail(std::string_view message)
{
    messages::print(message);
    return -1;
}

// Sources from 2 GiB on do not fit the image record's fields and are refused.
bool is_convertible_length(std::int64_t length)
{
    return length >= 0 && static_cast<std::uint64_t>(length) <= kMaxSourceLength && length % kSectorSize == 0;
}

bool is_same_file(const fs::path& source, const fs::path& destination)
{
    std::error_code error;
    return fs::equivalent(source, destination, error) && !error;
}

enum class CopyResult { Done, ReadFailed, WriteFailed };

// Streams the source into the destination and records each block's checksum
// in the image record's table.
CopyResult copy_blocks(const FileHandle& source, std::uint64_t source_length, OutputFile& output,
                       std::span<std::uint8_t> chunk, std::span<std::uint8_t> header_area)
{
    std::uint64_t block_index = 0;
    for (std::uint64_t copied = 0; copied < source_length;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), source_length - copied));
        const std::span<std::uint8_t> data = chunk.first(wanted);
        if (read_full(source, data) != static_cast<std::int64_t>(wanted)) {
            return CopyResult::ReadFailed;
        }
        for (std::size_t offset = 0; offset < wanted; offset += kBlockSize) {
            const std::size_t length = std::min<std::size_t>(kBlockSize, wanted - offset);
            store_ul16(header_area, image_table_entry_offset(block_index++),
                       block_checksum(data.subspan(offset, length)));
        }
        if (output.append(data) != 0) {
            return CopyResult::WriteFailed;
        }
        copied += wanted;
    }
    return CopyResult::Done;
}

}  // namespace

int convert_image(const ConversionRequest& request)
{
    const InterruptHandling interrupt_handling;

    FileHandle source = open_measurable_source(request.source);
    if (!source.is_open()) {
        return fail(messages::kUnableToOpenSource);
    }
    const std::int64_t measured_length = measure_length(source);
    if (!is_convertible_length(measured_length)) {
        return fail(messages::kBadSourceLength);
    }
    if (seek_to_start(source) != 0) {
        return fail(messages::kUnableToReadSource);
    }
    if (is_same_file(request.source, request.destination)) {
        return fail(messages::kSameFile);
    }
    const auto source_length = static_cast<std::uint64_t>(measured_length);
    const std::uint64_t block_count = block_count_for(source_length);

    const Buffer header_area = allocate(header_area_size(block_count));
    if (!header_area.bytes) {
        return fail(messages::kUnableToAllocate);
    }
    const Buffer chunk = allocate(std::min<std::size_t>(kChunkSize, block_count * kBlockSize));
    if (!chunk.bytes) {
        return fail(messages::kUnableToAllocate);
    }

    OutputFile output;
    if (output.create(request.destination) != 0) {
        return fail(messages::kUnableToCreateDestination);
    }
    if (output.append(header_area.span()) != 0) {
        return fail(messages::kUnableToWriteDestination);
    }
    switch (copy_blocks(source, source_length, output, chunk.span(), header_area.span())) {
    case CopyResult::ReadFailed:
        return fail(messages::kUnableToReadSource);
    case CopyResult::WriteFailed:
        return fail(messages::kUnableToWriteDestination);
    case CopyResult::Done:
        break;
    }
    source.close();

    build_header_area(header_area.span(), block_count, static_cast<std::uint32_t>(source_length), request.model);
    if (output.overwrite_start(header_area.span()) != 0 || output.commit() != 0) {
        return fail(messages::kUnableToWriteDestination);
    }
    messages::print(messages::kSuccess);
    return 0;
}

}  // namespace quarnel
