#include "inspect/inspect_report.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "inspect/inspect_messages.h"
#include "inspect/shown_text.h"
#include "texts/program_texts.h"

namespace quarnel {

namespace {

// A fixed-width text field, up to its zero fill.
template <std::size_t N> std::string field_text(const std::array<char, N>& field)
{
    const std::string_view text(field.data(), field.size());
    return shown_text(text.substr(0, text.find('\0')));
}

std::string record_type_text(std::uint16_t type_code)
{
    const RecordType type = record_type(type_code);
    switch (type.kind) {
    case RecordKind::Signature:
        return texts::line_of({"signature record, ", model_name(type.model), " codes"});
    case RecordKind::Image:
        return texts::line_of({"image record, ", model_name(type.model), " codes"});
    case RecordKind::Unknown:
        break;
    }
    return "unknown";
}

void append_line(std::string& out, const char* format, auto... values)
{
    const int length = std::snprintf(nullptr, 0, format, values...);
    if (length <= 0) {
        return;
    }
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    if (std::snprintf(line.data(), line.size(), format, values...) == length) {
        out.append(line.data(), static_cast<std::size_t>(length));
    }
}

void describe_record(std::string& out, std::size_t number, const RecordReport& record)
{
    const RecordHeader& header = record.header;
    append_line(out, "\nRecord %zu at offset %llu\n", number, static_cast<unsigned long long>(record.offset));
    append_line(out, "  Type code:        0x%04X (%s)\n", unsigned{header.type_code},
                record_type_text(header.type_code).c_str());
    append_line(out, "  Header length:    %lu\n", static_cast<unsigned long>(std::uint32_t{header.header_length}));
    append_line(out, "  Payload length:   %lu\n", static_cast<unsigned long>(std::uint32_t{header.payload_length}));
    append_line(out, "  Block size:       %u\n", unsigned{header.block_size});
    append_line(out, "  Blocks:           %llu\n", static_cast<unsigned long long>(record.table_entries));
    append_line(out, "  Ident text:       %s\n", field_text(header.ident_text).c_str());
    append_line(out, "  Date text:        %s\n", field_text(header.date_text).c_str());
    append_line(out, "  Time text:        %s\n", field_text(header.time_text).c_str());
    append_line(out, "  Label text:       %s\n", field_text(header.label_text).c_str());
    append_line(out, "  Header checksum:  0x%04X, %s\n", unsigned{header.header_checksum},
                record.header_checksum_good() ? "good" : "bad");
    if (record.first_bad_block) {
        append_line(out, "  Block checksums:  block %llu bad, at offset %llu\n",
                    static_cast<unsigned long long>(*record.first_bad_block),
                    static_cast<unsigned long long>(record.first_bad_block_offset));
    } else if (record.blocks_checked) {
        append_line(out, "  Block checksums:  all %llu good\n", static_cast<unsigned long long>(record.table_entries));
    } else {
        out += "  Block checksums:  not checked\n";
    }
    if (record_type(header.type_code).kind == RecordKind::Signature) {
        const std::optional<std::string> text = signature_text(record.payload_head);
        append_line(out, "  Signature text:   %s\n", text ? shown_text(*text).c_str() : "(malformed)");
    }
}

std::string volume_formats(const DiscVolume& disc)
{
    std::string formats;
    const std::pair<bool, const char*> named[] = {
        {disc.iso9660, "ISO 9660"}, {disc.joliet, "Joliet"}, {disc.el_torito, "El Torito"}, {disc.udf, "UDF"}};
    for (const auto& [present, name] : named) {
        if (present) {
            formats += formats.empty() ? "" : ", ";
            formats += name;
        }
    }
    return formats;
}

void describe_volume_size(std::string& out, const DiscVolume& disc, std::uint64_t payload_length)
{
    std::string size = std::to_string(disc.volume_blocks);
    size += disc.block_size == kSectorSize ? " sectors"
                                           : texts::line_of({" blocks of ", std::to_string(disc.block_size), " bytes"});
    if (disc.volume_blocks_big_endian != disc.volume_blocks) {
        size += texts::line_of({" (its big-endian copy says ", std::to_string(disc.volume_blocks_big_endian), ")"});
    }
    const std::uint64_t payload_sectors = payload_length / kSectorSize;
    if (disc.volume_bytes() > payload_length) {
        size += texts::line_of({", but the payload holds only ", std::to_string(payload_sectors)});
    } else if (disc.volume_bytes() + kSectorSize <= payload_length) {
        size += texts::line_of(
            {", then ", std::to_string(payload_sectors - disc.volume_bytes() / kSectorSize), " sectors of padding"});
    }
    append_line(out, "  Volume size:      %s\n", size.c_str());
}

void describe_disc(std::string& out, const DiscVolume& disc, std::uint64_t payload_length)
{
    out += "\nDisc in the image record\n";
    if (!disc.found()) {
        out += "  Volume formats:   none found\n";
        out += "  Warning:          no ISO 9660 or UDF volume descriptor, not a CD-ROM image?\n";
        return;
    }
    append_line(out, "  Volume formats:   %s\n", volume_formats(disc).c_str());
    if (disc.iso9660) {
        const std::string label = shown_text(disc.volume_identifier);
        append_line(out, "  Volume label:     %s\n", label.empty() ? "(none)" : label.c_str());
        describe_volume_size(out, disc, payload_length);
    }
}

// `value` in `width` digits, '0' in front, or right-aligned in spaces.
void append_number(std::string& out, std::uint64_t value, std::size_t width, char fill = '0')
{
    std::array<char, 20> digits{};
    const std::size_t length =
        static_cast<std::size_t>(std::to_chars(digits.begin(), digits.end(), value).ptr - digits.data());
    out.append(length < width ? width - length : 0, fill);
    out.append(digits.data(), length);
}

// "YYYY-MM-DD HH:MM:SS", UTC; zeros for a record that holds no date. Built
// by hand: a listing has a line an entry, and formatting each costs more
// than reading the disc.
void append_time(std::string& out, std::optional<std::int64_t> seconds)
{
    if (!seconds) {
        out += "0000-00-00 00:00:00";
        return;
    }
    const std::chrono::sys_seconds at{std::chrono::seconds{*seconds}};
    const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(at);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{at - day};
    std::array<char, 19> text{'0', '0', '0', '0', '-', '0', '0', '-', '0', '0',
                              ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
    const auto put = [&text](std::size_t end, std::uint64_t value) {
        for (std::size_t at = end; value != 0 && at > 0; value /= 10) {
            text.at(--at) = static_cast<char>('0' + value % 10);
        }
    };
    put(4, static_cast<std::uint64_t>(static_cast<int>(date.year())));
    put(7, static_cast<unsigned>(date.month()));
    put(10, static_cast<unsigned>(date.day()));
    put(13, static_cast<std::uint64_t>(time.hours().count()));
    put(16, static_cast<std::uint64_t>(time.minutes().count()));
    put(19, static_cast<std::uint64_t>(time.seconds().count()));
    out.append(text.data(), text.size());
}

// Hands the text on once a piece is made, so that a listing of any length
// never waits whole in memory.
class ReportOut {
public:
    explicit ReportOut(const ReportWriter& write) : write_(write) { text.reserve(kPiece + kPiece / 4); }

    [[nodiscard]] int piece_done() { return text.size() >= kPiece ? flush() : 0; }

    [[nodiscard]] int flush()
    {
        const int status = write_(text);
        text.clear();
        return status;
    }

    std::string text;

private:
    static constexpr std::size_t kPiece = std::size_t{64} << 10;
    const ReportWriter& write_;
};

[[nodiscard]] int describe_files(ReportOut& report, const DiscFiles& files)
{
    std::string& out = report.text;
    if (!files.readable()) {
        out += "\nFiles on the disc\n";
        append_line(out, "  Unreadable:       %s\n", inspect_messages::disc_fault_description(files.fault).c_str());
        return 0;
    }
    append_line(out, "\nFiles on the disc (%s names)\n", files.listing.joliet ? "Joliet" : "primary");
    // The path shown so far is that of the folders open, each its length before it.
    std::string folder;
    std::vector<std::size_t> lengths;
    const auto visit = [&](std::uint32_t index) {
        const disc::DiscItem& item = files.listing.items[index];
        out += "  ";
        append_number(out, item.size, 12, ' ');
        out += "  ";
        append_time(out, files.listing.time(index));
        out += "  ";
        out += folder;
        const std::string name = shown_text(files.listing.name(index), Shown::Utf8Allowed);
        out += name;
        out += item.directory ? "/\n" : "\n";
        if (item.directory) {
            lengths.push_back(folder.size());
            folder += name + "/";
        }
        return report.piece_done();
    };
    const auto leave = [&](std::uint32_t /*folder*/) {
        folder.resize(lengths.back());
        lengths.pop_back();
        return 0;
    };
    return disc::walk_listing(files.listing, visit, leave);
}

[[nodiscard]] int make_report(ReportOut& report, const std::string& image_name, const ImageReport& image,
                              const DiscFiles* files)
{
    std::string& out = report.text;
    append_line(out, "Image: %s, %llu bytes\n", shown_text(image_name, Shown::Utf8Allowed).c_str(),
                static_cast<unsigned long long>(image.file_size));
    for (std::size_t i = 0; i < image.records.size(); ++i) {
        describe_record(out, i + 1, image.records[i]);
    }
    if (image.disc) {
        describe_disc(out, *image.disc, image.records.back().header.payload_length);
    }
    if (files != nullptr && describe_files(report, *files) != 0) {
        return -1;
    }
    append_line(out, "\nModel: %s\n", std::string(model_name(image.model)).c_str());
    if (image.valid()) {
        out += "Verdict: valid modem image\n";
    } else {
        append_line(out, "Verdict: invalid: %s\n", inspect_messages::fault_description(image).c_str());
    }
    if (image.payload_sink_failed) {
        out += inspect_messages::kExtractionFailedLine;
    }
    return 0;
}

}  // namespace

DiscFiles list_disc_files(ImageSource& source, const ImageReport& report)
{
    DiscFiles files;
    const RecordReport& image = report.records.back();
    if (read_disc_listing(source, image.payload_offset(), image.header.payload_length, files.listing, files.fault) !=
            0 &&
        files.fault.kind == disc::DiscFaultKind::None) {
        files.fault.kind = disc::DiscFaultKind::ReadFailed;
    }
    return files;
}

std::string_view model_name(std::optional<ModemModel> model)
{
    if (!model) {
        return "unknown";
    }
    return *model == ModemModel::E220 ? "E220" : "Default";
}

int write_report(const std::string& image_name, const ImageReport& report, const DiscFiles* files,
                 const ReportWriter& write)
{
    ReportOut out(write);
    return make_report(out, image_name, report, files) == 0 ? out.flush() : -1;
}

}  // namespace quarnel
