// The one way both programs write an image: the destination created, the
// header area's place held, the payload copied behind it, the header area
// built from what was copied and written over the start, the file committed.
// quarnel and quarnel-pack differ only in the pieces they hand it and in how
// they word its failures.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>

#include "image/header_area.h"
#include "platform/file_io.h"
#include "writing/payload_copy.h"

namespace quarnel {

enum class ImageForm {
    ModemImage,   // the header area, then the payload
    PayloadOnly,  // the payload alone (quarnel-pack's disc without the modem image)
};

struct ImageWrite {
    const std::filesystem::path& destination;
    const FileHandle& source;  // the one file the payload is read from, never to be replaced; closed: none
    ModemModel model = ModemModel::Default;
    ImageForm form = ImageForm::ModemImage;
    CopyMethod copy_method = CopyMethod::Automatic;
    std::size_t chunk_size = kLargeChunkSize;
    const CopyProgress& progress;
};

// What the caller says when the writing fails, each printed by the caller's
// own function; the writer then returns -1.
struct WriteFailures {
    std::function<void()> same_file;  // the destination is the source; empty: unable_to_create
    std::function<void()> unable_to_create;
    std::function<void()> unable_to_write;
    std::function<void(std::size_t piece)> unable_to_read;  // the piece whose read failed
};

// 0 once the destination holds the complete image; -1 after a failure told
// through `failures`, with any existing destination left as it was.
[[nodiscard]] int write_image(std::span<const PayloadPiece> pieces, const ImageWrite& write,
                              const WriteFailures& failures);
[[nodiscard]] int write_image(const PieceList& pieces, const ImageWrite& write, const WriteFailures& failures);

}  // namespace quarnel
