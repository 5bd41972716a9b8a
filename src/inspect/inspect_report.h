// The inspector's report as text: plain data in, text out, with no file,
// console or operating system, so that any front end can show the same report.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/header_area.h"
#include "image/image_reader.h"

namespace quarnel {

// A model's name as the report and the command line spell it; "unknown" for none.
std::string_view model_name(std::optional<ModemModel> model);

// The report quarnel-inspect prints on standard output for the image called
// `image_name`: one block per record, the disc, the model and a verdict.
std::string describe_report(const std::string& image_name, const ImageReport& report);

}  // namespace quarnel
