// What every end-to-end test shares: a scratch directory a test, runners for
// the built programs, and checks of what a run leaves behind. The programs'
// paths arrive as QUARNEL_BINARY and QUARNEL_INSPECT_BINARY.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "support/expected_image.h"
#include "support/process.h"

namespace quarnel::test {

inline constexpr int kFailureStatus = 255;  // -1 as a POSIX shell sees it

// quarnel's texts, written out here for every end-to-end test rather than
// taken from the program, so that a changed text fails.
inline constexpr std::string_view kBanner = "quarnel - ISO image to USB modem CD-ROM image converter v1.0\n"
                                            "Copyright (c) 2026 the quarnel developers.\n"
                                            "Free software under the MIT License, provided as is, without warranty.\n"
                                            "Project home page: https://quarnel.example.org\n"
                                            "\n";
inline constexpr std::string_view kSuccess = "Operation successfully completed.\n";
inline constexpr std::string_view kUsage = "Usage: quarnel [/model:<modem model>] <source .iso> <destination .bin>\n"
                                           "\n"
                                           "Where <modem model> can be E220.\n";
inline constexpr std::string_view kUnableToOpenSource = "Error: unable to open source file.\n";
inline constexpr std::string_view kBadSourceLength = "Error: source file length is not a multiple of 2048 bytes.\n";
inline constexpr std::string_view kSameFile = "Error: source and destination are the same file.\n";
inline constexpr std::string_view kUnableToCreateDestination = "Error: unable to create destination file.\n";
inline constexpr std::string_view kUnableToReadSource = "Error: unable to read source file.\n";
inline constexpr std::string_view kUnableToWriteDestination = "Error: unable to write destination file.\n";
inline constexpr std::string_view kInterrupted = "Error: conversion interrupted.\n";
// quarnel-inspect's texts on standard error.
inline constexpr std::string_view kInspectSameFile = "Error: image and extracted file are the same file.\n";
inline constexpr std::string_view kUnableToCreateExtracted = "Error: unable to create extracted file.\n";
inline constexpr std::string_view kUnableToWriteExtracted = "Error: unable to write extracted file.\n";
inline constexpr std::string_view kUnableToWriteReport = "Error: unable to write report.\n";
inline constexpr std::string_view kInspectInterrupted = "Error: inspection interrupted.\n";

// What quarnel prints on standard error: the banner, then `tail`.
std::string banner_and(std::string_view tail);

class EndToEnd : public ::testing::Test {
protected:
    std::string path(const std::string& name) const;
    ProcessResult quarnel(std::vector<std::string> arguments, const ProcessOptions& options = {});
    ProcessResult inspect(std::vector<std::string> arguments, const ProcessOptions& options = {});
    std::set<std::string> entries() const;  // names_in the test's directory

    // Runs a program in dir/work, stopped midway (start_and_pause) while
    // `midway` acts on it, then lets it go on to its end.
    ProcessResult run_stopped_midway(const std::vector<std::string>& arguments,
                                     const std::function<void(pid_t)>& midway, const ProcessOptions& options = {});
    // The same, sending a signal midway.
    ProcessResult signal_midway(const std::vector<std::string>& arguments, int signal_number,
                                const ProcessOptions& options = {});
    // The names left in dir/work, the stderr capture aside.
    std::set<std::string> left_in_work() const;

    // A run of quarnel that ended with this message, or that succeeded.
    static void expect_failure(const ProcessResult& result, std::string_view message);
    static void expect_success(const ProcessResult& result);

    ScratchDirectory scratch_;
    const std::filesystem::path& dir_ = scratch_.path;
};

// A file system mounted for a test, let go (with its loop device) however the test ends.
struct Mounted {
    std::string directory;
    bool mounted = false;
    ~Mounted();
};

void make_sparse_file(const std::filesystem::path& path, std::uintmax_t length);

// The names in a directory.
std::set<std::string> names_in(const std::filesystem::path& dir);

bool has_temporary_file(const std::filesystem::path& dir);

// Starts a program writing a large output into `dir` and stops it once its
// temporary file exists, so that the test can act on it midway; its standard
// error goes to dir/stderr.txt. Traced up to then, it cannot end before it is
// stopped; one that makes no temporary file fails the test.
pid_t start_and_pause(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                      const ProcessOptions& options = {});

// For tests that write gigabytes: a memory file system where there is one.
std::filesystem::path scratch_directory();

// A small real ISO image made by genisoimage; false when that fails.
bool make_iso(const std::filesystem::path& dir, const std::string& iso);

}  // namespace quarnel::test
