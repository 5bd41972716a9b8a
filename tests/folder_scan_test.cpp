// The folder scan on real temporary folders: what it finds, and each kind of
// entry it refuses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folder_scan.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

void make_file(const fs::path& path, std::size_t size, std::int64_t modified)
{
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    const timespec times[2] = {{modified, 0}, {modified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// "d/d/.../d", `levels` of them.
fs::path nested(std::size_t levels)
{
    fs::path path = "d";
    while (--levels > 0) {
        path /= "d";
    }
    return path;
}

struct ScanCase {
    std::string name{};
    std::function<void(const fs::path&)> make{};  // fills the folder
    std::optional<ScanFault> fault{};             // what the scan refuses, if anything
    std::string path{};                           // the entry refused
    bool needs_permissions = false;               // root reads whatever its mode
};

class FolderScanTest : public testing::TestWithParam<ScanCase> {};

TEST_P(FolderScanTest, FindsTheFolderOrRefusesTheEntry)
{
    const ScanCase& c = GetParam();
    if (c.needs_permissions && ::geteuid() == 0) {
        GTEST_SKIP() << "run as root, which reads any file";
    }
    std::string pattern = (fs::temp_directory_path() / "quarnel-scan-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = fs::path(pattern) / "Driver Disc";
    fs::create_directory(folder);
    c.make(folder);
    FolderEntry root;
    ScanFailure failure;
    const int status = scan_folder(c.name == "missing_folder" ? folder / "nowhere" : folder / "", root, failure);
    fs::permissions(pattern, fs::perms::owner_all);
    for (const auto& item : fs::recursive_directory_iterator(pattern)) {
        if (item.is_directory() && !item.is_symlink()) {
            fs::permissions(item.path(), fs::perms::owner_all);
        }
    }
    fs::remove_all(pattern);
    if (c.fault) {
        ASSERT_EQ(status, -1);
        EXPECT_EQ(failure.fault, *c.fault);
        EXPECT_EQ(failure.path, c.path);
        return;
    }
    ASSERT_EQ(status, 0) << failure.path;
    EXPECT_EQ(root.name, "Driver Disc");
    EXPECT_TRUE(root.directory);
    std::map<std::string, const FolderEntry*> found;
    for (const FolderEntry& child : root.children) {
        found[child.name] = &child;
    }
    ASSERT_EQ(found.size(), 4U);
    EXPECT_EQ(found.at("autorun.inf")->size, 68U);
    EXPECT_EQ(found.at("autorun.inf")->modified, 1765190096);
    EXPECT_EQ(found.at("ça et là ☃")->modified, -86400);
    EXPECT_TRUE(found.at("empty")->directory && found.at("empty")->children.empty());
    const FolderEntry& inner = found.at("sub")->children.at(0);
    EXPECT_EQ(inner.name, "link to autorun.inf");
    EXPECT_EQ(inner.inode, found.at("autorun.inf")->inode);
    EXPECT_EQ(inner.device, found.at("autorun.inf")->device);
    EXPECT_NE(found.at("ça et là ☃")->inode, found.at("autorun.inf")->inode);
}

void typical(const fs::path& folder)
{
    make_file(folder / "autorun.inf", 68, 1765190096);
    make_file(folder / "ça et là ☃", 0, -86400);
    fs::create_directory(folder / "empty");
    fs::create_directory(folder / "sub");
    fs::create_hard_link(folder / "autorun.inf", folder / "sub" / "link to autorun.inf");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderScanTest,
    testing::Values(ScanCase{"typical", typical},
                    ScanCase{"missing_folder", [](const fs::path&) {}, ScanFault::Unopenable, ""},
                    ScanCase{"link", [](const fs::path& f) { fs::create_directory_symlink("/tmp", f / "a"); },
                             ScanFault::NotRegular, "a"},
                    ScanCase{"fifo",
                             [](const fs::path& f) {
                                 fs::create_directory(f / "d");
                                 ::mkfifo((f / "d/pipe").c_str(), 0600);
                             },
                             ScanFault::NotRegular, "d/pipe"},
                    ScanCase{"too_deep",
                             [](const fs::path& f) { fs::create_directories(f / nested(kMaxScanLevels + 4)); },
                             ScanFault::TooDeep, nested(kMaxScanLevels).string()},
                    ScanCase{"unreadable_file",
                             [](const fs::path& f) {
                                 make_file(f / "secret", 1, 0);
                                 fs::permissions(f / "secret", fs::perms::none);
                             },
                             ScanFault::Unreadable, "secret", true},
                    ScanCase{"unlistable_directory",
                             [](const fs::path& f) {
                                 fs::create_directory(f / "closed");
                                 fs::permissions(f / "closed", fs::perms::owner_write);
                             },
                             ScanFault::Unreadable, "closed", true}),
    [](const testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quarnel
