#include "convert/payload_copy.h"

#include <algorithm>

#include "convert/source_reader.h"
#include "convert/trailing_checksums.h"
#include "image/record_header.h"
#include "platform/copy.h"

namespace quarnel {
namespace {

// Bytes a copy_file_range call: large enough that calls cost nothing, small
// enough for the checksums to trail closely and for progress to move.
constexpr std::uint64_t kKernelCopyStep = std::uint64_t{8} << 20;
static_assert(kKernelCopyStep % kBlockSize == 0);
// How far the checksums may fall behind the copy: the tail left at the end.
constexpr std::uint64_t kMaxChecksumLag = 2 * kKernelCopyStep;
// Writeback starts a range of this size at a time and waits for the range
// two before, so that at most about three are dirty or in flight.
constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;

class Writeback {
public:
    Writeback(const FileHandle& file, std::uint64_t start)
        : file_(file), started_(start), older_end_(start), newer_end_(start), waited_end_(start)
    {
    }

    // The file holds its bytes up to `end`.
    void landed(std::uint64_t end)
    {
        if (end < started_ + kWritebackStep) {
            return;
        }
        start_writeback(file_, started_, end - started_);
        if (older_end_ > waited_end_) {
            finish_writeback(file_, waited_end_, older_end_ - waited_end_);
            waited_end_ = older_end_;
        }
        older_end_ = newer_end_;
        newer_end_ = end;
        started_ = end;
    }

private:
    const FileHandle& file_;
    std::uint64_t started_;     // writeback started below this
    std::uint64_t older_end_;   // the end of the range started two steps ago
    std::uint64_t newer_end_;   // the end of the range started one step ago
    std::uint64_t waited_end_;  // writeback finished below this
};

void report(const CopyProgress& progress, std::uint64_t done, std::uint64_t total)
{
    if (progress) {
        progress(done, total);
    }
}

enum class KernelCopyEnd { Complete, HandedOver, ReadFailed, WriteFailed };

struct KernelCopyOutcome {
    KernelCopyEnd end;
    std::uint64_t resume_at;  // where the copy through memory takes over
};

KernelCopyOutcome copy_through_kernel(const Payload& payload, Writeback& writeback, const CopyProgress& progress)
{
    TrailingChecksums checksums(payload.destination, payload.destination_offset, payload.length,
                                payload.checksum_table);
    std::uint64_t done = 0;
    while (done < payload.length) {
        const std::uint64_t step = std::min(kKernelCopyStep, payload.length - done);
        const KernelCopyResult result =
            copy_in_kernel(payload.source, done, payload.destination, payload.destination_offset + done, step);
        if (result.copied > 0) {
            done += result.copied;
            checksums.landed(done);
            writeback.landed(payload.destination_offset + done);
            report(progress, done, payload.length);
        }
        switch (result.status) {
        case KernelCopyStatus::Copied:
            break;
        case KernelCopyStatus::EndOfSource:
            return {KernelCopyEnd::ReadFailed, done};
        case KernelCopyStatus::Unsupported:
        case KernelCopyStatus::Failed: {
            // The copy through memory tells a read fault from a write fault
            // and goes on where it can; it starts at a block for its checksums.
            const std::uint64_t resume_at = done / kBlockSize * kBlockSize;
            if (checksums.finish(resume_at) != 0) {
                return {KernelCopyEnd::WriteFailed, done};
            }
            return {KernelCopyEnd::HandedOver, resume_at};
        }
        }
        if (done > kMaxChecksumLag && checksums.wait_until_checked(done - kMaxChecksumLag) != 0) {
            return {KernelCopyEnd::WriteFailed, done};
        }
    }
    if (checksums.finish(payload.length) != 0) {
        return {KernelCopyEnd::WriteFailed, done};
    }
    return {KernelCopyEnd::Complete, done};
}

PayloadResult copy_through_memory(const Payload& payload, std::uint64_t start, Writeback& writeback,
                                  const CopyProgress& progress)
{
    SourceReader reader(payload.source, payload.length, payload.checksum_table, start);
    reader.start();
    std::uint64_t done = start;
    for (;;) {
        std::span<const std::uint8_t> chunk;
        if (reader.next(chunk) != 0) {
            return PayloadResult::ReadFailed;
        }
        if (chunk.empty()) {
            return PayloadResult::Done;
        }
        if (write_at(payload.destination, payload.destination_offset + done, chunk) != 0) {
            return PayloadResult::WriteFailed;
        }
        done += chunk.size();
        writeback.landed(payload.destination_offset + done);
        report(progress, done, payload.length);
    }
}

}  // namespace

PayloadResult copy_payload(const Payload& payload, CopyMethod method, const CopyProgress& progress)
{
    Writeback writeback(payload.destination, payload.destination_offset);
    std::uint64_t start = 0;
    if (method == CopyMethod::Kernel ||
        (method == CopyMethod::Automatic && copies_on_the_server(payload.source, payload.destination))) {
        const KernelCopyOutcome outcome = copy_through_kernel(payload, writeback, progress);
        switch (outcome.end) {
        case KernelCopyEnd::Complete:
            return PayloadResult::Done;
        case KernelCopyEnd::ReadFailed:
            return PayloadResult::ReadFailed;
        case KernelCopyEnd::WriteFailed:
            return PayloadResult::WriteFailed;
        case KernelCopyEnd::HandedOver:
            start = outcome.resume_at;
            break;
        }
    }
    return copy_through_memory(payload, start, writeback, progress);
}

}  // namespace quarnel
