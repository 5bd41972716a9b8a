#include "texts/program_texts.h"

#include "image/header_area.h"
#include "quarnel_version.h"

namespace quarnel::texts {

std::string line_of(std::initializer_list<std::string_view> pieces)
{
    std::string line;
    for (const std::string_view piece : pieces) {
        line.append(piece);
    }
    return line;
}

std::string banner_for(std::string_view title)
{
    return line_of({title,
                    " v" QUARNEL_SHORT_VERSION "\n"
                    "Copyright (c) 2026 the quarnel developers.\n"
                    "Free software under the MIT License, provided as is, without warranty.\n"
                    "Project home page: ",
                    kHomePage, "\n\n"});
}

std::string help_for(std::string_view usage, std::string_view program, std::string_view body)
{
    return line_of({usage, "       ", program, " --help | --version\n\n", body, "Home page: ", kHomePage, "\n"});
}

std::string version_for(std::string_view program) { return line_of({program, " " QUARNEL_VERSION "\n"}); }

}  // namespace quarnel::texts
