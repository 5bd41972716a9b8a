// Moves the payload's bytes, taken from its pieces in order, into the image
// behind its header area while the image record's checksum table fills,
// starting the writeback of what has landed as it goes so that the final
// flush waits only for the tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "platform/file_io.h"

namespace quarnel {

// Locally, reading through memory (one pass, the checksums taken from the very
// bytes written) beats an in-kernel copy that must read the image back for
// them: the payload's offset in the image is not page-aligned, so the kernel
// can share or offload nothing. A file server that copies on its own side is
// the exception.
enum class CopyMethod {
    Automatic,  // in the kernel where both files are on one file server, else through memory
    Kernel,     // in the kernel wherever the platform and both files allow it, else through memory
    ReadWrite,  // always through memory, as where no in-kernel copy exists
};

// Bytes moved through memory at a time, each a whole number of checksum
// blocks. Large sequential reads and writes, small enough that a chunk is
// still in the cache when it is written out:
inline constexpr std::size_t kLargeChunkSize = std::size_t{1} << 20;
// For a payload of many files, whose reads cost more than their calls:
// small enough that a chunk stays in the core's own cache from the worker's
// read to the write (a quarter less CPU on a 300 MiB folder than the above).
inline constexpr std::size_t kCachedChunkSize = std::size_t{256} << 10;

// Called after each step with the payload bytes copied so far and their total.
using CopyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Where the bytes of file pieces come from when the copy opens them itself:
// one for many pieces, each told by its place among the payload's pieces.
class PieceFile {
public:
    virtual ~PieceFile() = default;
    // Opens piece `piece`'s file for reading; a closed handle when it cannot be read. May run on the worker
    // thread: must not throw.
    virtual FileHandle open(std::size_t piece) noexcept = 0;
    // After the piece's bytes were read: 0 when the file is still what it was scanned as, else -1 (a read failure).
    [[nodiscard]] virtual int verify(std::size_t piece, const FileHandle& file) noexcept = 0;
};

// Bytes made only when the copy reaches them, so that they are never held whole.
class PieceBytes {
public:
    virtual ~PieceBytes() = default;
    // Fills `into` with the piece's bytes from `offset` on: 0, or -1 when they cannot be made (a read failure).
    // Runs on the worker thread: must not throw.
    [[nodiscard]] virtual int fill(std::uint64_t offset, std::span<std::uint8_t> into) const noexcept = 0;
};

// One run of the payload's bytes: bytes in memory or made on demand, a range of a file, or zero bytes.
// A packing has one for every file: kept small.
struct PayloadPiece {
    enum class Kind : std::uint8_t { Memory, Made, File, Zeros };
    Kind kind = Kind::Zeros;
    std::uint32_t padding = 0;              // File: zero bytes after the file's, so that one piece ends a sector
    const std::uint8_t* bytes = nullptr;    // Memory, `length` of them
    const PieceBytes* made = nullptr;       // Made
    const FileHandle* file = nullptr;       // File, already open
    PieceFile* opened_on_demand = nullptr;  // File, opened when reached (file == nullptr) and closed after it
    std::uint64_t offset = 0;               // File: where the range starts in it
    std::uint64_t length = 0;
    static PayloadPiece memory(std::span<const std::uint8_t> bytes);
    static PayloadPiece made_on_demand(const PieceBytes& bytes, std::uint64_t length);
    static PayloadPiece range(const FileHandle& file, std::uint64_t offset, std::uint64_t length);
    static PayloadPiece on_demand(PieceFile& file, std::uint64_t length, std::uint32_t padding = 0);
    static PayloadPiece zeros(std::uint64_t length);
};

// The pieces of a payload too long a list to hold (a folder's files): each
// made when the copy reaches it.
class PieceList {
public:
    virtual ~PieceList() = default;
    [[nodiscard]] virtual std::size_t size() const noexcept = 0;
    // Piece `index`, below size(). May run on the worker thread: must not throw.
    [[nodiscard]] virtual PayloadPiece piece(std::size_t index) const noexcept = 0;
};

struct Payload {
    std::span<const PayloadPiece> pieces;  // in order; the payload is their bytes one after another
    const FileHandle& destination;         // open for reading and writing
    std::uint64_t destination_offset;
    std::span<std::uint8_t> checksum_table;    // one entry a 4096-byte block of the whole payload
    std::size_t chunk_size = kLargeChunkSize;  // through memory
    const PieceList* list = nullptr;           // where given, the pieces instead of `pieces`
};

enum class PayloadResult { Done, ReadFailed, WriteFailed };

struct PayloadOutcome {
    PayloadResult result = PayloadResult::Done;
    std::size_t failed_piece = 0;  // for ReadFailed
};

// The payload's bytes one after another.
[[nodiscard]] std::uint64_t payload_length(const Payload& payload);

// A file piece that ends before its length is a read failure of that piece.
// The in-kernel copy is for a payload of one open file's range alone.
[[nodiscard]] PayloadOutcome copy_payload(const Payload& payload, CopyMethod method, const CopyProgress& progress);

}  // namespace quarnel
