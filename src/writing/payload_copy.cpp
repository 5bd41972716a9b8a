#include "writing/payload_copy.h"

#include <algorithm>

#include "image/checksum.h"
#include "image/record_header.h"
#include "platform/copy.h"
#include "platform/read_ahead.h"

namespace quarnel {
namespace {

static_assert(kLargeChunkSize % kBlockSize == 0 && kCachedChunkSize % kBlockSize == 0);
// The in-kernel copy's checksums read the image back in pieces small enough
// to stay in the core's own cache between the read and the checksum.
constexpr std::size_t kReadBackSize = std::size_t{256} << 10;
static_assert(kReadBackSize % kBlockSize == 0);
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

std::uint64_t length_of(const PayloadPiece& piece) { return piece.length + piece.padding; }

// The payload's pieces, from its list or its span.
class Pieces {
public:
    explicit Pieces(const Payload& payload) : span_(payload.pieces), list_(payload.list) {}
    [[nodiscard]] std::size_t size() const noexcept { return list_ != nullptr ? list_->size() : span_.size(); }
    [[nodiscard]] PayloadPiece operator[](std::size_t index) const noexcept
    {
        return list_ != nullptr ? list_->piece(index) : span_[index];
    }

private:
    std::span<const PayloadPiece> span_;
    const PieceList* list_;
};

// Fills the payload's chunks from its pieces in turn, on the read-ahead's
// thread: it opens a piece to be opened on demand when it reaches it, and
// verifies and closes it once its bytes are read.
class PieceCursor {
public:
    // Starts at payload byte `at`.
    PieceCursor(const Pieces& pieces, std::uint64_t at) : pieces_(pieces)
    {
        while (current_ < pieces_.size() && at > 0 && at >= length_of(pieces_[current_])) {
            at -= length_of(pieces_[current_]);
            ++current_;
        }
        within_ = at;
    }

    // Fills the buffer with the next bytes; -1 when a piece failed.
    [[nodiscard]] int fill(std::span<std::uint8_t> buffer) noexcept
    {
        std::size_t filled = 0;
        // An empty piece is passed (and an on-demand one opened and verified) once reached.
        while (current_ < pieces_.size() && (filled < buffer.size() || within_ == length_of(pieces_[current_]))) {
            const PayloadPiece piece = pieces_[current_];
            const auto count =
                static_cast<std::size_t>(std::min<std::uint64_t>(length_of(piece) - within_, buffer.size() - filled));
            const std::span<std::uint8_t> into = buffer.subspan(filled, count);
            switch (piece.kind) {
            case PayloadPiece::Kind::Memory:
                std::copy_n(piece.bytes + within_, count, into.begin());
                break;
            case PayloadPiece::Kind::Made:
                if (piece.made->fill(within_, into) != 0) {
                    return -1;
                }
                break;
            case PayloadPiece::Kind::Zeros:
                std::fill(into.begin(), into.end(), std::uint8_t{0});
                break;
            case PayloadPiece::Kind::File: {
                const auto from_file = static_cast<std::size_t>(
                    std::min<std::uint64_t>(count, piece.length - std::min(within_, piece.length)));
                if (read_file(piece, into.first(from_file)) != 0) {
                    return -1;
                }
                std::fill(into.begin() + static_cast<std::ptrdiff_t>(from_file), into.end(), std::uint8_t{0});
                break;
            }
            }
            filled += count;
            within_ += count;
            if (within_ == length_of(piece) && finish_piece() != 0) {
                return -1;
            }
        }
        return filled == buffer.size() ? 0 : -1;
    }

    // The piece that failed, once fill() did.
    [[nodiscard]] std::size_t failed_piece() const { return current_; }

private:
    [[nodiscard]] int read_file(const PayloadPiece& piece, std::span<std::uint8_t> into) noexcept
    {
        const FileHandle* file = piece.file;
        if (file == nullptr) {
            if (!opened_.is_open() && piece.opened_on_demand != nullptr) {
                opened_ = piece.opened_on_demand->open(current_);
            }
            if (!opened_.is_open()) {
                return -1;
            }
            file = &opened_;
        }
        // A file that ends before the piece does is a read failure.
        if (!into.empty() && read_at(*file, piece.offset + within_, into) != static_cast<std::int64_t>(into.size())) {
            return -1;
        }
        return 0;
    }

    [[nodiscard]] int finish_piece() noexcept
    {
        const PayloadPiece piece = pieces_[current_];
        if (piece.kind == PayloadPiece::Kind::File && piece.file == nullptr) {
            if (!opened_.is_open() && read_file(piece, {}) != 0) {
                return -1;  // an empty piece is opened too, for its verification
            }
            if (piece.opened_on_demand->verify(current_, opened_) != 0) {
                return -1;
            }
            (void)opened_.close();  // read to the end: a failed close changes nothing
        }
        ++current_;
        within_ = 0;
        return 0;
    }

    Pieces pieces_;
    std::size_t current_ = 0;
    std::uint64_t within_ = 0;  // bytes of the current piece passed
    FileHandle opened_;         // the current piece's, when opened on demand
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

// The checksums are taken from the destination's own bytes as they land: a
// thread trails the copy and reads each written range back from the page
// cache, so that the table describes exactly what is in the image even when
// the source changes while it is copied.
KernelCopyOutcome copy_through_kernel(const Payload& payload, const PayloadPiece& source, Writeback& writeback,
                                      const CopyProgress& progress)
{
    const std::uint64_t length = source.length;
    ReadAhead checksums(
        length, kReadBackSize,
        [&payload](std::uint64_t index, std::span<std::uint8_t> buffer) -> std::int64_t {
            const std::uint64_t from = index * kReadBackSize;
            if (read_at(payload.destination, payload.destination_offset + from, buffer) !=
                static_cast<std::int64_t>(buffer.size())) {
                return -1;
            }
            checksum_blocks(buffer, from / kBlockSize, payload.checksum_table);
            return static_cast<std::int64_t>(buffer.size());
        },
        ReadAheadUse::CheckOnly);
    checksums.start();
    std::uint64_t done = 0;
    while (done < length) {
        const std::uint64_t step = std::min(kKernelCopyStep, length - done);
        const KernelCopyResult result = copy_in_kernel(*source.file, source.offset + done, payload.destination,
                                                       payload.destination_offset + done, step);
        if (result.copied > 0) {
            done += result.copied;
            checksums.allow(done);
            writeback.landed(payload.destination_offset + done);
            report(progress, done, length);
        }
        switch (result.status) {
        case KernelCopyStatus::Copied:
            break;
        case KernelCopyStatus::EndOfSource:
            return {KernelCopyEnd::ReadFailed, done};
        case KernelCopyStatus::Unsupported:
        case KernelCopyStatus::Failed: {
            // The copy through memory tells a read fault from a write fault
            // and goes on where it can, from where the checksums have reached.
            const std::uint64_t resume_at = done / kReadBackSize * kReadBackSize;
            if (checksums.wait_until_read(resume_at) != 0) {
                return {KernelCopyEnd::WriteFailed, done};
            }
            return {KernelCopyEnd::HandedOver, resume_at};
        }
        }
        if (done > kMaxChecksumLag && checksums.wait_until_read(done - kMaxChecksumLag) != 0) {
            return {KernelCopyEnd::WriteFailed, done};
        }
    }
    if (checksums.wait_until_read(length) != 0) {
        return {KernelCopyEnd::WriteFailed, done};
    }
    return {KernelCopyEnd::Complete, done};
}

PayloadOutcome copy_through_memory(const Payload& payload, std::uint64_t length, std::uint64_t start,
                                   Writeback& writeback, const CopyProgress& progress)
{
    // The cursor outlives the reader, whose thread uses it.
    PieceCursor cursor(Pieces(payload), start);
    const std::size_t chunk_size = payload.chunk_size;
    ReadAhead reader(length - start, chunk_size,
                     [&](std::uint64_t index, std::span<std::uint8_t> buffer) -> std::int64_t {
                         if (cursor.fill(buffer) != 0) {
                             return -1;
                         }
                         checksum_blocks(buffer, (start + index * chunk_size) / kBlockSize, payload.checksum_table);
                         return static_cast<std::int64_t>(buffer.size());
                     });
    reader.start();
    std::uint64_t done = start;
    for (;;) {
        std::span<const std::uint8_t> chunk;
        if (reader.next(chunk) != 0) {
            return {PayloadResult::ReadFailed, cursor.failed_piece()};
        }
        if (chunk.empty()) {
            return {};
        }
        if (write_at(payload.destination, payload.destination_offset + done, chunk) != 0) {
            return {PayloadResult::WriteFailed};
        }
        done += chunk.size();
        writeback.landed(payload.destination_offset + done);
        report(progress, done, length);
    }
}

// The one open file's range that an in-kernel copy could take, if the payload is that alone.
const PayloadPiece* single_file(const Payload& payload)
{
    if (payload.list != nullptr || payload.pieces.size() != 1 || payload.pieces[0].kind != PayloadPiece::Kind::File ||
        payload.pieces[0].file == nullptr) {
        return nullptr;
    }
    return payload.pieces.data();
}

}  // namespace

PayloadPiece PayloadPiece::memory(std::span<const std::uint8_t> bytes)
{
    return {Kind::Memory, 0, bytes.data(), nullptr, nullptr, nullptr, 0, bytes.size()};
}

PayloadPiece PayloadPiece::made_on_demand(const PieceBytes& bytes, std::uint64_t length)
{
    return {Kind::Made, 0, nullptr, &bytes, nullptr, nullptr, 0, length};
}

PayloadPiece PayloadPiece::range(const FileHandle& file, std::uint64_t offset, std::uint64_t length)
{
    return {Kind::File, 0, nullptr, nullptr, &file, nullptr, offset, length};
}

PayloadPiece PayloadPiece::on_demand(PieceFile& file, std::uint64_t length, std::uint32_t padding)
{
    return {Kind::File, padding, nullptr, nullptr, nullptr, &file, 0, length};
}

PayloadPiece PayloadPiece::zeros(std::uint64_t length)
{
    return {Kind::Zeros, 0, nullptr, nullptr, nullptr, nullptr, 0, length};
}

std::uint64_t payload_length(const Payload& payload)
{
    const Pieces pieces(payload);
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        length += length_of(pieces[i]);
    }
    return length;
}

PayloadOutcome copy_payload(const Payload& payload, CopyMethod method, const CopyProgress& progress)
{
    const std::uint64_t length = payload_length(payload);
    Writeback writeback(payload.destination, payload.destination_offset);
    std::uint64_t start = 0;
    const PayloadPiece* source = single_file(payload);
    if (source != nullptr &&
        (method == CopyMethod::Kernel ||
         (method == CopyMethod::Automatic && copies_on_the_server(*source->file, payload.destination)))) {
        const KernelCopyOutcome outcome = copy_through_kernel(payload, *source, writeback, progress);
        switch (outcome.end) {
        case KernelCopyEnd::Complete:
            return {};
        case KernelCopyEnd::ReadFailed:
            return {PayloadResult::ReadFailed};
        case KernelCopyEnd::WriteFailed:
            return {PayloadResult::WriteFailed};
        case KernelCopyEnd::HandedOver:
            start = outcome.resume_at;
            break;
        }
    }
    return copy_through_memory(payload, length, start, writeback, progress);
}

}  // namespace quarnel
