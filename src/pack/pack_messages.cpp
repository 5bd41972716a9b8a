#include "pack/pack_messages.h"

#include "disc/disc_names.h"
#include "image/header_area.h"
#include "texts/program_texts.h"

namespace quarnel::pack_messages {

namespace {

// The longest refusals' ends, each one text though written over two lines.
constexpr std::string_view kWrittenTwoWays =
    " are one name written two ways (as an accented letter or as a letter and its accent, say),"
    " which macOS and other readers show as one.\n";
constexpr std::string_view kDeviceName =
    " has a name Windows keeps for a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any extension),"
    " which it cannot open.\n";

// In quotes, a control character as \xHH, so that the message stays one line.
std::string quoted(std::string_view path)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(1, '"');
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text.append({'\\', 'x', kDigits[byte >> 4U], kDigits[byte & 0xFU]});
        } else {
            text.push_back(c);
        }
    }
    text.push_back('"');
    return text;
}

}  // namespace

std::string below(std::string_view folder, std::string_view entry)
{
    return entry.empty() ? std::string(folder) : disc::join_path(folder, entry);
}

std::string_view banner_text()
{
    static const std::string banner = texts::banner_for("quarnel-pack - folder to USB modem CD-ROM image packer");
    return banner;
}

std::string_view help_text()
{
    static const std::string help =
        texts::help_for(kUsage, "quarnel-pack",
                        "Makes a CD-ROM image (ISO 9660 with Joliet names) of a folder and writes it\n"
                        "as the USB modem CD-ROM image quarnel would write for it, in one pass over\n"
                        "the files. Every file and folder inside goes on the disc, or nothing is\n"
                        "written.\n"
                        "\n"
                        "  /model:E220     the E220's record codes (any other model: the default ones)\n"
                        "  /label:<label>  the volume label (default: the folder's name)\n"
                        "  /iso            write the disc itself instead of the modem image\n"
                        "  --help          print this help on standard output and exit\n"
                        "  --version       print the version on standard output and exit\n"
                        "\n"
                        "Exit status: 0 on success, -1 (255 in a POSIX shell) otherwise.\n");
    return help;
}

std::string_view version_line()
{
    static const std::string line = texts::version_for("quarnel-pack");
    return line;
}

std::string not_a_folder(std::string_view folder)
{
    return texts::line_of({"Error: ", quoted(folder), " does not exist or is not a folder.\n"});
}

std::string unable_to_read(std::string_view path)
{
    return texts::line_of({"Error: unable to read ", quoted(path), ".\n"});
}

std::string not_a_file_or_folder(std::string_view path)
{
    return texts::line_of(
        {"Error: ", quoted(path),
         " is neither a file nor a folder (a link, a device, a FIFO or a socket), which a disc cannot hold.\n"});
}

std::string refusal(const disc::Refusal& refusal, std::string_view folder)
{
    const std::string path = quoted(below(folder, refusal.path));
    switch (refusal.kind) {
    case disc::RefusalKind::InvalidUtf8:
        return texts::line_of({"Error: ", path, " has a name that is not UTF-8.\n"});
    case disc::RefusalKind::ForbiddenCharacter:
        return texts::line_of(
            {"Error: ", path, " has a character a disc name cannot hold (* / : ; ? \\ or a control character).\n"});
    case disc::RefusalKind::ReservedName:
        return texts::line_of({"Error: ", path, " has a name a disc cannot hold.\n"});
    case disc::RefusalKind::NameTooLong:
        return texts::line_of({"Error: ", path, " has a name longer than 64 UTF-16 units.\n"});
    case disc::RefusalKind::CaseCollision:
        return texts::line_of(
            {"Error: ", path, " and ", quoted(below(folder, refusal.other_path)), " differ only in letter case.\n"});
    case disc::RefusalKind::SameNameTwoWays:
        return texts::line_of({"Error: ", path, " and ", quoted(below(folder, refusal.other_path)), kWrittenTwoWays});
    case disc::RefusalKind::WindowsCharacter:
        return texts::line_of({"Error: ", path, " has a character Windows cannot open in a name (\" < > or |).\n"});
    case disc::RefusalKind::TrailingDotOrSpace:
        return texts::line_of(
            {"Error: ", path, " has a name ending in \".\" or a space, which Windows cannot open.\n"});
    case disc::RefusalKind::DeviceName:
        return texts::line_of({"Error: ", path, kDeviceName});
    case disc::RefusalKind::PathTooLong:
        return texts::line_of({"Error: ", path, " has a path of more than ", std::to_string(disc::kMaxJolietPathUnits),
                               " UTF-16 units on the disc (names and separators), which Windows cannot open.\n"});
    case disc::RefusalKind::TooLarge:
        return texts::line_of({"Error: ", path, " makes a disc of 2 GiB or more.\n"});
    case disc::RefusalKind::TooManyDirectories:
        return texts::line_of(
            {"Error: ", path,
             " holds more folders than a disc can number (65,535, the folder itself and DEEPER among them).\n"});
    case disc::RefusalKind::DateOutOfRange:
        return texts::line_of({"Error: ", path, " has a modification time a disc cannot hold (before ",
                               std::to_string(disc::kFirstRecordYear), " or after ",
                               std::to_string(disc::kLastRecordYear), ").\n"});
    case disc::RefusalKind::InvalidLabel:
        return "Error: the volume label has a character a disc cannot hold.\n";
    case disc::RefusalKind::LabelTooLong:
        return "Error: the volume label is longer than 16 UTF-16 units.\n";
    }
    return texts::line_of({"Error: ", path, " cannot be put on a disc.\n"});
}

std::string unable_to_create_destination(std::string_view destination)
{
    return texts::line_of({"Error: unable to create destination file ", quoted(destination), ".\n"});
}

std::string unable_to_write_destination(std::string_view destination)
{
    return texts::line_of({"Error: unable to write destination file ", quoted(destination), ".\n"});
}

}  // namespace quarnel::pack_messages
