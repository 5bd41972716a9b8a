#include "inspect/inspect_image.h"

#include <cstdio>

#include "inspect/inspect_messages.h"
#include "io/console.h"
#include "io/file_io.h"
#include "io/interrupt.h"
#include "io/output_file.h"

namespace quarnel {

namespace {

class FileImageSource final : public ImageSource {
public:
    FileImageSource(const FileHandle& file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t size() const override { return size_; }
    [[nodiscard]] std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        return read_full_at(file_, offset, buffer);
    }

private:
    const FileHandle& file_;
    std::uint64_t size_;
};

class ExtractedFile final : public PayloadSink {
public:
    explicit ExtractedFile(OutputFile& output) : output_(output) {}
    [[nodiscard]] int write(std::span<const std::uint8_t> bytes) override { return output_.append(bytes); }

private:
    OutputFile& output_;
};

enum class Shown { AsciiOnly, Utf8Allowed };

// Control bytes (and, in texts from the image, every byte outside printable
// ASCII) are shown escaped, so that a hostile image cannot drive the terminal.
std::string printable(std::string_view text, Shown allowed = Shown::AsciiOnly)
{
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\0') {
            break;
        }
        if ((byte >= 0x20 && byte < 0x7F) || (byte >= 0x80 && allowed == Shown::Utf8Allowed)) {
            shown += c;
        } else if (c == '\n') {
            shown += "\\n";
        } else {
            shown += "\\x";
            shown += kHexDigits[byte >> 4];
            shown += kHexDigits[byte & 0x0F];
        }
    }
    return shown;
}

template <std::size_t N> std::string field_text(const std::array<char, N>& field)
{
    return printable(std::string_view(field.data(), field.size()));
}

std::string_view model_name(std::optional<ModemModel> model)
{
    if (!model) {
        return "unknown";
    }
    return *model == ModemModel::E220 ? "E220" : "Default";
}

std::string type_code_meaning(std::uint16_t type_code)
{
    const TypeCodeMeaning meaning = describe_type_code(type_code);
    switch (meaning.kind) {
    case RecordKind::Signature:
        return "signature record, " + std::string(model_name(meaning.model)) + " codes";
    case RecordKind::Image:
        return "image record, " + std::string(model_name(meaning.model)) + " codes";
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
                type_code_meaning(header.type_code).c_str());
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
    if (describe_type_code(header.type_code).kind == RecordKind::Signature) {
        const std::optional<std::string> text = signature_text(record.payload_head);
        append_line(out, "  Signature text:   %s\n", text ? printable(*text).c_str() : "(malformed)");
    }
}

}  // namespace

std::string describe_report(const std::string& image_name, const ImageReport& report)
{
    std::string out;
    append_line(out, "Image: %s, %llu bytes\n", printable(image_name, Shown::Utf8Allowed).c_str(),
                static_cast<unsigned long long>(report.file_size));
    for (std::size_t i = 0; i < report.records.size(); ++i) {
        describe_record(out, i + 1, report.records[i]);
    }
    append_line(out, "\nModel: %s\n", std::string(model_name(report.model)).c_str());
    if (report.valid()) {
        out += "Verdict: valid modem image\n";
    } else {
        append_line(out, "Verdict: invalid: %s\n",
                    std::string(inspect_messages::fault_description(report.fault)).c_str());
    }
    return out;
}

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

    FileImageSource source(image, static_cast<std::uint64_t>(size));
    const ImageReport report = read_image(source, request.extract_to ? &extracted : nullptr);
    const std::u8string name = request.image.u8string();
    const std::string text = describe_report(std::string(name.begin(), name.end()), report);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        return console::fail(inspect_messages::kUnableToWriteReport);
    }
    if (!report.valid()) {
        return console::fail(inspect_messages::fault_message(report.fault));
    }
    if (request.extract_to && output.commit() != 0) {
        return console::fail(inspect_messages::kUnableToWriteExtracted);
    }
    return 0;
}

}  // namespace quarnel
