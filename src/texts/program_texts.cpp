#include "texts/program_texts.h"

#include "image/header_area.h"
#include "quarnel_version.h"

namespace quarnel::texts {

std::string banner_for(std::string_view title)
{
    return std::string(title) +
           " v" QUARNEL_SHORT_VERSION "\n"
           "Copyright (c) 2026 the quarnel developers.\n"
           "Free software under the MIT License, provided as is, without warranty.\n"
           "Project home page: " +
           std::string(kHomePage) + "\n\n";
}

std::string help_for(std::string_view usage, std::string_view program, std::string_view body)
{
    return std::string(usage) + "       " + std::string(program) + " --help | --version\n\n" + std::string(body) +
           "Home page: " + std::string(kHomePage) + "\n";
}

std::string version_for(std::string_view program) { return std::string(program) + " " QUARNEL_VERSION "\n"; }

}  // namespace quarnel::texts
