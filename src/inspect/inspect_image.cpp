#include "inspect/inspect_image.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "console/console.h"
#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"
#include "output/output_file.h"
#include "platform/copy.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "platform/read_ahead.h"

namespace quarnel {

namespace {

// The image file. A large read that follows on from the one before is served
// from a read-ahead that has read it on a second thread meanwhile, while this
// one checked the bytes before: the reader takes the payload in windows of
// one size, front to back, between small reads of the table. Where the
// platform cannot read one file from two threads at once, nothing is read
// ahead.
class FileImageSource final : public ImageSource {
public:
    using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

    FileImageSource(const FileHandle& file, std::uint64_t size, const Progress& progress)
        : file_(file), size_(size), progress_(progress)
    {
    }
    std::uint64_t size() const override { return size_; }

    [[nodiscard]] std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        const std::int64_t got = stream_ && offset == stream_at_ ? take_streamed(buffer) : read_direct(offset, buffer);
        // The reader goes front to back but for a few small reads: the furthest byte read is the progress.
        if (got > 0 && progress_ && offset + static_cast<std::uint64_t>(got) > furthest_) {
            furthest_ = offset + static_cast<std::uint64_t>(got);
            progress_(furthest_, size_);
        }
        return got;
    }

private:
    // Reads of this size at least are read ahead; no larger than the reader's
    // windows of a sane block size, so that the buffers stay small.
    static constexpr std::size_t kStreamedMin = std::size_t{128} << 10;
    static constexpr std::size_t kStreamedMax = std::size_t{4} << 20;

    std::int64_t read_direct(std::uint64_t offset, std::span<std::uint8_t> buffer)
    {
        const std::int64_t got = quarnel::read_at(file_, offset, buffer);
        const std::uint64_t end = offset + buffer.size();
        if (kReadAtFromTwoThreads && got == static_cast<std::int64_t>(buffer.size()) && buffer.size() >= kStreamedMin &&
            buffer.size() <= kStreamedMax && end < size_) {
            // The next read of this size is likely to follow on from this one.
            stream_.reset();
            stream_.emplace(size_ - end, buffer.size(),
                            [this, end, size = buffer.size()](std::uint64_t index, std::span<std::uint8_t> chunk) {
                                return quarnel::read_at(file_, end + index * size, chunk);
                            });
            stream_->start();
            stream_at_ = end;
        }
        return got;
    }

    // The read at stream_at_, from the read-ahead: the bytes are the same as
    // a read of the file would give, and a read of another size ends the stream.
    std::int64_t take_streamed(std::span<std::uint8_t> buffer)
    {
        std::span<const std::uint8_t> chunk;
        if (stream_->next(chunk) != 0) {
            stream_.reset();
            return -1;
        }
        const std::size_t count = std::min(chunk.size(), buffer.size());
        std::copy_n(chunk.begin(), count, buffer.begin());
        const std::uint64_t offset = stream_at_;
        stream_at_ += count;
        if (count == buffer.size() && count == chunk.size()) {
            return static_cast<std::int64_t>(count);
        }
        stream_.reset();
        if (count == buffer.size()) {
            return static_cast<std::int64_t>(count);
        }
        // The file ended before the stream's length did, or the read asks for more than a chunk.
        const std::int64_t rest = quarnel::read_at(file_, offset + count, buffer.subspan(count));
        return rest < 0 ? -1 : static_cast<std::int64_t>(count) + rest;
    }

    const FileHandle& file_;
    std::uint64_t size_;
    const Progress& progress_;
    std::uint64_t furthest_ = 0;
    std::uint64_t stream_at_ = 0;  // where the read-ahead's next chunk starts in the file
    std::optional<ReadAhead> stream_;
};

class ExtractedFile final : public PayloadSink {
public:
    explicit ExtractedFile(OutputFile& output) : output_(output) {}
    [[nodiscard]] int write(std::span<const std::uint8_t> bytes) override { return output_.append(bytes); }

private:
    OutputFile& output_;
};

}  // namespace

int inspect_image(const InspectRequest& request)
{
    const InterruptHandling interrupt_handling(inspect_messages::kInterrupted);

    const FileHandle image = open_measurable_source(request.image);
    if (!image.is_open()) {
        return console::fail(inspect_messages::kUnableToOpenImage);
    }
    const std::int64_t size = measure_length(image);
    if (size < 0) {
        return console::fail(inspect_messages::fault_message(ImageFault::ReadFailed));
    }
    OutputFile output;
    ExtractedFile extracted(output);
    if (request.extract_to) {
        if (is_same_file(request.image, *request.extract_to)) {
            return console::fail(inspect_messages::kSameFile);
        }
        if (output.create(*request.extract_to) != 0) {
            return console::fail(inspect_messages::kUnableToCreateExtracted);
        }
    }

    FileImageSource source(image, static_cast<std::uint64_t>(size), request.progress);
    const ImageReport report = read_image(source, request.extract_to ? &extracted : nullptr);
    const std::u8string name = request.image.u8string();
    const std::string text = describe_report(std::string(name.begin(), name.end()), report);
    if (console::write_standard_output(text) != 0) {
        return console::fail(inspect_messages::kUnableToWriteReport);
    }
    if (!report.valid()) {
        return console::fail(inspect_messages::fault_message(report));
    }
    if (report.payload_sink_failed || (request.extract_to && output.commit() != 0)) {
        return console::fail(inspect_messages::kUnableToWriteExtracted);
    }
    return 0;
}

}  // namespace quarnel
