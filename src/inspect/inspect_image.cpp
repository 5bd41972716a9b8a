#include "inspect/inspect_image.h"

#include <functional>
#include <optional>
#include <string>

#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"
#include "io/console.h"
#include "io/copy.h"
#include "io/file_io.h"
#include "io/interrupt.h"
#include "io/output_file.h"
#include "io/worker_thread.h"

namespace quarnel {

namespace {

// The image file, read ahead on a second thread where the reader announces its
// next read, so that the file is read while the previous window is checked.
// Reads never overlap one another: a read first settles the one ahead.
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
        std::int64_t got = 0;
        if (ahead_ && ahead_->offset == offset && ahead_->buffer.data() == buffer.data() &&
            ahead_->buffer.size() == buffer.size()) {
            got = settle();
        } else {
            settle_read_ahead();
            got = quarnel::read_at(file_, offset, buffer);
        }
        // The reader goes front to back but for a few small reads: the furthest byte read is the progress.
        if (got > 0 && progress_ && offset + static_cast<std::uint64_t>(got) > furthest_) {
            furthest_ = offset + static_cast<std::uint64_t>(got);
            progress_(furthest_, size_);
        }
        return got;
    }

    void read_ahead(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        settle_read_ahead();
        if (!worker_.running()) {
            if (tried_worker_) {
                return;  // no thread to be had: read_at reads on demand
            }
            tried_worker_ = true;
            if (!worker_.start([this] { serve(); })) {
                return;
            }
        }
        worker_.update([&] { ahead_ = Ahead{offset, buffer, false, 0}; });
    }

    void settle_read_ahead() override { static_cast<void>(settle()); }

private:
    // A read announced by the reader, and its outcome once done.
    struct Ahead {
        std::uint64_t offset;
        std::span<std::uint8_t> buffer;
        // cppcheck-suppress unusedStructMember ; read through the optional, which cppcheck does not follow
        bool done;
        std::int64_t got;
    };

    // Waits for the read ahead, if any, and drops it; its byte count (0 when none).
    std::int64_t settle()
    {
        if (!ahead_) {
            return 0;
        }
        std::int64_t got = 0;
        static_cast<void>(worker_.wait([&] {
            got = ahead_->got;
            return ahead_->done;
        }));
        worker_.update([&] { ahead_.reset(); });
        return got;
    }

    // Runs on the worker, which must not throw: it only reads into the announced buffer.
    void serve() noexcept
    {
        Ahead request{};
        const auto announced = [&] {
            if (!ahead_ || ahead_->done) {
                return false;
            }
            request = *ahead_;
            return true;
        };
        while (worker_.wait(announced)) {
            const std::int64_t got = quarnel::read_at(file_, request.offset, request.buffer);
            worker_.update([&] {
                ahead_->done = true;
                ahead_->got = got;
            });
        }
    }

    const FileHandle& file_;
    std::uint64_t size_;
    const Progress& progress_;
    std::uint64_t furthest_ = 0;
    // Set and reset by the reader's thread under the worker's lock; the worker
    // reads it and marks it done under the lock.
    std::optional<Ahead> ahead_;
    bool tried_worker_ = false;
    WorkerThread worker_;
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
