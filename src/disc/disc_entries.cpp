#include "disc/disc_entries.h"

namespace quarnel::disc {

std::string join_path(std::string_view parent, std::string_view name)
{
    std::string path(parent);
    if (!path.empty() && path.back() != '/' && path.back() != '\\') {
        path += '/';
    }
    return path.append(name);
}

}  // namespace quarnel::disc
