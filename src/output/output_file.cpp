#include "output/output_file.h"

#include "platform/interrupt.h"

namespace quarnel {

Resolution OutputFile::create(const std::filesystem::path& destination, const FileHandle& source)
{
    const Resolution resolution = resolve_destination(destination, source, destination_);
    if (resolution != Resolution::Resolved) {
        return resolution;
    }
    return temporary_.create(destination_.directory) == 0 ? Resolution::Resolved : Resolution::Refused;
}

int OutputFile::append(std::span<const std::uint8_t> bytes) { return write_all(temporary_.handle(), bytes); }

int OutputFile::overwrite_start(std::span<const std::uint8_t> bytes)
{
    if (seek_to_start(temporary_.handle()) != 0) {
        return -1;
    }
    return write_all(temporary_.handle(), bytes);
}

int OutputFile::commit()
{
    const Directory& directory = destination_.directory;
    // The metadata first, so that the flush makes it durable with the data.
    if (pass_on_metadata(destination_.passed_on, temporary_.handle(), directory.entry(temporary_.name())) != 0 ||
        sync_file(temporary_.handle()) != 0 || temporary_.close() != 0) {
        return -1;
    }
    InterruptsHeld held;
    if (directory.rename(temporary_.name(), destination_.name) != 0) {
        return -1;  // the hold ends: a signal that came meanwhile is acted on now
    }
    temporary_.forget_renamed(held);
    held.hold_until_exit();
    // Until the directory is flushed a power cut may still bring the old file back.
    return directory.flush(destination_.name);
}

}  // namespace quarnel
