#include "inspect/inspect_image.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <utility>

#include "console/console.h"
#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"
#include "output/output_file.h"
#include "platform/copy.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "platform/worker_thread.h"

namespace quarnel {

namespace {

// The image file, read on a second thread too where the reader announces
// reads: that thread takes them in order and runs their checks, while the
// reader's thread reads and checks the window before (and takes an announced
// read itself when it gets there first). Where the platform
// cannot read one file from two threads at once, nothing is read ahead.
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
        if (!ahead_.empty() && ahead_.front().offset == offset && ahead_.front().buffer.data() == buffer.data() &&
            ahead_.front().buffer.size() == buffer.size()) {
            got = take_front();
        } else {
            got = quarnel::read_at(file_, offset, buffer);
        }
        // The reader goes front to back but for a few small reads: the furthest byte read is the progress.
        if (got > 0 && progress_ && offset + static_cast<std::uint64_t>(got) > furthest_) {
            furthest_ = offset + static_cast<std::uint64_t>(got);
            progress_(furthest_, size_);
        }
        return got;
    }

    [[nodiscard]] bool read_ahead(std::uint64_t offset, std::span<std::uint8_t> buffer, const ReadCheck& check) override
    {
        if (!kReadAtFromTwoThreads || (!worker_.running() && (tried_worker_ || !start_worker()))) {
            return false;  // the reader reads and checks on demand
        }
        worker_.update([&] { ahead_.push_back({offset, buffer, check}); });
        return true;
    }

    void settle_read_ahead() override
    {
        if (ahead_.empty()) {
            return;
        }
        // The reads not started, which the worker takes in order and so stand
        // last, are dropped at once; the started ones once they are done.
        worker_.update([&] {
            while (!ahead_.empty() && !ahead_.back().started) {
                ahead_.pop_back();
            }
        });
        static_cast<void>(worker_.wait(
            [&] { return std::all_of(ahead_.begin(), ahead_.end(), [](const Ahead& read) { return read.done; }); }));
        worker_.update([&] { ahead_.clear(); });
    }

private:
    // A read announced by the reader, and its outcome once done.
    struct Ahead {
        std::uint64_t offset = 0;
        std::span<std::uint8_t> buffer;
        ReadCheck check;
        bool started = false;
        bool done = false;
        std::int64_t got = 0;
    };

    // The announced read at the front of the queue, done by the worker or,
    // when it has not started it yet (a busy machine may not have run it),
    // here; its byte count.
    std::int64_t take_front()
    {
        bool here = false;
        worker_.update([&] { here = !std::exchange(ahead_.front().started, true); });
        std::int64_t got = 0;
        if (here) {
            got = run(ahead_.front());
        } else {
            static_cast<void>(worker_.wait([&] {
                got = ahead_.front().got;
                return ahead_.front().done;
            }));
        }
        worker_.update([&] { ahead_.pop_front(); });
        return got;
    }

    // Reads and checks an announced read; the byte count.
    std::int64_t run(const Ahead& read) noexcept
    {
        const std::int64_t got = quarnel::read_at(file_, read.offset, read.buffer);
        if (got == static_cast<std::int64_t>(read.buffer.size()) && read.check) {
            read.check(read.buffer);
        }
        return got;
    }

    bool start_worker()
    {
        tried_worker_ = true;
        return worker_.start([this] { serve(); });
    }

    // Runs on the worker, which must not throw: it only reads into the
    // announced buffers and runs their checks, which allocate nothing.
    void serve() noexcept
    {
        Ahead* read = nullptr;
        const auto announced = [&] {
            const auto next = std::find_if(ahead_.begin(), ahead_.end(), [](const Ahead& a) { return !a.started; });
            if (next == ahead_.end()) {
                return false;
            }
            next->started = true;
            read = &*next;
            return true;
        };
        while (worker_.wait(announced)) {
            // The reader's thread drops a started read only once it is done, and the queue keeps its place.
            const std::int64_t got = run(*read);
            worker_.update([&] {
                read->done = true;
                read->got = got;
            });
        }
    }

    const FileHandle& file_;
    std::uint64_t size_;
    const Progress& progress_;
    std::uint64_t furthest_ = 0;
    // Grown and shrunk by the reader's thread, under the worker's lock; the
    // worker takes and completes reads under the lock.
    std::deque<Ahead> ahead_;
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
        switch (output.create(*request.extract_to, image)) {
        case Resolution::IsTheSource:
            return console::fail(inspect_messages::kSameFile);
        case Resolution::Refused:
            return console::fail(inspect_messages::kUnableToCreateExtracted);
        case Resolution::Resolved:
            break;
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
    if (report.payload_sink_failed) {
        return console::fail(inspect_messages::kUnableToWriteExtracted);
    }
    if (request.extract_to && output.commit() != 0) {
        // The report ends as it would had a write failed: its last line comes once the outcome is known.
        (void)console::write_standard_output(inspect_messages::kExtractionFailedLine);
        return console::fail(inspect_messages::kUnableToWriteExtracted);
    }
    return 0;
}

}  // namespace quarnel
