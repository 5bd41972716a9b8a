#include "platform/folder_listing.h"

namespace quarnel {
namespace fs = std::filesystem;

fs::path lexical_folder_name(const fs::path& folder)
{
    std::error_code error;
    fs::path normal = fs::absolute(folder, error).lexically_normal();
    if (!normal.has_filename()) {
        normal = normal.parent_path();  // "/a/b/" is "/a/b"; a root stays itself
    }
    return normal.filename();
}

}  // namespace quarnel
