#include "inspect/inspect_image.h"

#include <functional>
#include <string>

#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"
#include "io/console.h"
#include "io/file_io.h"
#include "io/interrupt.h"
#include "io/output_file.h"

namespace quarnel {

namespace {

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
        const std::int64_t got = read_full_at(file_, offset, buffer);
        // The reader goes front to back but for a few small reads: the furthest byte read is the progress.
        if (got > 0 && progress_ && offset + static_cast<std::uint64_t>(got) > furthest_) {
            furthest_ = offset + static_cast<std::uint64_t>(got);
            progress_(furthest_, size_);
        }
        return got;
    }

private:
    const FileHandle& file_;
    std::uint64_t size_;
    const Progress& progress_;
    std::uint64_t furthest_ = 0;
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
