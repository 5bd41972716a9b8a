#include "convert/convert_messages.h"

#include <string>

#include "image/header_area.h"
#include "quarnel_version.h"

namespace quarnel::messages {

std::string banner_for(std::string_view title)
{
    return std::string(title) +
           " v" QUARNEL_SHORT_VERSION "\n"
           "Copyright (c) 2026 the quarnel developers.\n"
           "Free software under the MIT License, provided as is, without warranty.\n"
           "Project home page: " +
           std::string(kHomePage) + "\n\n";
}

std::string_view banner_text()
{
    static const std::string banner = banner_for("quarnel - ISO image to USB modem CD-ROM image converter");
    return banner;
}

}  // namespace quarnel::messages
