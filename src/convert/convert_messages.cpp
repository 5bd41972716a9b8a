#include "convert/convert_messages.h"

#include <string>

#include "texts/program_texts.h"

namespace quarnel::messages {

std::string_view banner_text()
{
    static const std::string banner = texts::banner_for("quarnel - ISO image to USB modem CD-ROM image converter");
    return banner;
}

}  // namespace quarnel::messages
