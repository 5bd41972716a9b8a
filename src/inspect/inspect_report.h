// The inspector's report as text: plain data in, text out, with no file,
// console or operating system, so that any front end can show the same report.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "disc/disc_reader.h"
#include "image/header_area.h"
#include "image/image_reader.h"

namespace quarnel {

// A model's name as the report and the command line spell it; "unknown" for none.
std::string_view model_name(std::optional<ModemModel> model);

// The files and folders of the disc in a valid image, as /files lists them:
// the whole listing, or what was read before the fault that stopped it.
struct DiscFiles {
    disc::DiscListing listing;
    disc::DiscFault fault;

    bool readable() const { return fault.kind == disc::DiscFaultKind::None; }
};

// Reads the tree of the disc in the image record of `report` (a valid image) from `source`.
DiscFiles list_disc_files(ImageSource& source, const ImageReport& report);

// Takes the report's text a piece at a time; anything but 0 ends the report.
using ReportWriter = std::function<int(std::string_view)>;

// The report quarnel-inspect prints on standard output for the image called
// `image_name`: one block per record, the disc, its files when given, the
// model and a verdict. The verdict is the image's: a disc whose tree cannot
// be read safely says so in its own block. It is handed to `write` in pieces
// as it is made, so that a long listing is never held whole; the first
// failed write's status, else 0.
[[nodiscard]] int write_report(const std::string& image_name, const ImageReport& report, const DiscFiles* files,
                               const ReportWriter& write);

}  // namespace quarnel
