#include "inspect/inspect_image.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "image/checksum.h"
#include "inspect/disc_unpack.h"
#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"
#include "output/destination.h"
#include "output/output_file.h"
#include "platform/copy.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "platform/read_ahead.h"

namespace quarnel {

namespace {

// The image file, and the payload windows read from it: a read-ahead reads
// and checksums every other window on a second thread while this one reads
// and checksums the window before. Where the platform cannot read one file
// from two threads at once, nothing is read ahead.
class FileImage final : public ImageSource, public PayloadWindows {
public:
    using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

    FileImage(const FileHandle& file, std::uint64_t size, const Progress& progress)
        : file_(file), size_(size), progress_(progress)
    {
    }
    std::uint64_t size() const override { return size_; }

    [[nodiscard]] std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        const std::int64_t got = quarnel::read_at(file_, offset, buffer);
        note_read(offset, got);
        return got;
    }

    void begin(std::uint64_t offset, std::uint64_t length, std::size_t window_size, std::size_t block_size) override
    {
        windows_.reset();
        offset_ = offset;
        window_size_ = window_size;
        block_size_ = block_size;
        handed_ = 0;
        for (std::vector<std::uint8_t>& checksums : checksums_) {
            checksums.resize(window_size / block_size * kTableEntrySize);
        }
        // Runs on both threads, each window on its own slot's checksums.
        windows_.emplace(
            length, window_size,
            [this](std::uint64_t index, std::span<std::uint8_t> window) {
                const std::int64_t got = quarnel::read_at(file_, offset_ + index * window_size_, window);
                if (got == static_cast<std::int64_t>(window.size())) {
                    checksum_blocks(window, 0, checksums_[index % 2], block_size_);
                }
                return got;
            },
            ReadAheadUse::Alternate);
        if (kReadAtFromTwoThreads) {
            windows_->start();
        }
    }

    [[nodiscard]] std::int64_t next(std::span<const std::uint8_t>& bytes,
                                    std::span<const std::uint8_t>& checksums) override
    {
        if (windows_->next(bytes) != 0) {
            return -1;
        }
        const std::uint64_t index = handed_++;
        checksums =
            std::span(checksums_[index % 2]).first((bytes.size() + block_size_ - 1) / block_size_ * kTableEntrySize);
        note_read(offset_ + index * window_size_, static_cast<std::int64_t>(bytes.size()));
        return static_cast<std::int64_t>(bytes.size());
    }

private:
    // The reader goes front to back but for a few small reads: the furthest byte read is the progress.
    void note_read(std::uint64_t offset, std::int64_t got)
    {
        if (got > 0 && progress_ && offset + static_cast<std::uint64_t>(got) > furthest_) {
            furthest_ = offset + static_cast<std::uint64_t>(got);
            progress_(furthest_, size_);
        }
    }

    const FileHandle& file_;
    std::uint64_t size_;
    const Progress& progress_;
    std::uint64_t furthest_ = 0;
    // The current payload's windows; the read-ahead's thread reads the members
    // above it, which stay as they are while it runs.
    std::uint64_t offset_ = 0;
    std::size_t window_size_ = 0;
    std::size_t block_size_ = 1;
    std::uint64_t handed_ = 0;
    std::vector<std::uint8_t> checksums_[2];
    std::optional<ReadAhead> windows_;
};

// A path as the report and the messages show it: UTF-8.
std::string shown(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

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
        switch (output.create(*request.extract_to, image)) {
        case Resolution::IsTheSource:
            return console::fail(inspect_messages::kSameFile);
        case Resolution::Refused:
            return console::fail(inspect_messages::kUnableToCreateExtracted);
        case Resolution::Resolved:
            break;
        }
    }

    // Found before the image is read, so that a run that could never unpack fails first.
    std::optional<Directory> unpack_parent;
    std::filesystem::path unpack_name;
    if (request.unpack_to) {
        const NewFolderPlace place = resolve_new_folder(*request.unpack_to, unpack_parent, unpack_name);
        if (place != NewFolderPlace::Free) {
            const UnpackFailure failure =
                place == NewFolderPlace::Taken ? UnpackFailure::Exists : UnpackFailure::CannotCreate;
            return console::fail(inspect_messages::unpack_failure_message({failure, {}}, shown(*request.unpack_to)));
        }
    }

    FileImage file_image(image, static_cast<std::uint64_t>(size), request.progress);
    const ImageReport report = read_image(file_image, request.extract_to ? &extracted : nullptr, &file_image);
    std::optional<DiscFiles> files;
    if ((request.list_files || request.unpack_to) && report.valid()) {
        files = list_disc_files(file_image, report);
    }
    if (write_report(shown(request.image), report, files && request.list_files ? &*files : nullptr,
                     console::write_standard_output) != 0) {
        return console::fail(inspect_messages::kUnableToWriteReport);
    }
    if (!report.valid()) {
        return console::fail(inspect_messages::fault_message(report));
    }
    if (report.payload_sink_failed) {
        return console::fail(inspect_messages::kUnableToWriteExtracted);
    }
    if (request.extract_to && output.commit() != 0) {
        // The report ends as it would had a write failed: its last line comes once the outcome is known.
        (void)console::write_standard_output(inspect_messages::kExtractionFailedLine);
        return console::fail(inspect_messages::kUnableToWriteExtracted);
    }
    if (files && !files->readable()) {
        return console::fail(inspect_messages::disc_fault_message(files->fault));
    }
    if (request.unpack_to) {
        UnpackOutcome outcome;
        if (unpack_disc(image, report.records.back().payload_offset(), files->listing, *unpack_parent, unpack_name,
                        outcome) != 0) {
            return console::fail(inspect_messages::unpack_failure_message(outcome, shown(*request.unpack_to)));
        }
    }
    return 0;
}

}  // namespace quarnel
