// Every text quarnel prints, each as it goes to standard error.
#pragma once

#include <string_view>

#include "texts/program_texts.h"

namespace quarnel::messages {

// Four lines and an empty one, ahead of everything else a run prints.
std::string_view banner_text();

inline constexpr std::string_view kUsage = "Usage: quarnel [/model:<modem model>] <source .iso> <destination .bin>\n"
                                           "\n"
                                           "Where <modem model> can be E220.\n";

inline constexpr std::string_view kUnableToOpenSource = "Error: unable to open source file.\n";
inline constexpr std::string_view kBadSourceLength = "Error: source file length is not a multiple of 2048 bytes.\n";
inline constexpr std::string_view kSameFile = "Error: source and destination are the same file.\n";
inline constexpr std::string_view kUnableToAllocate = texts::kUnableToAllocateBuffers;
inline constexpr std::string_view kUnableToCreateDestination = "Error: unable to create destination file.\n";
inline constexpr std::string_view kUnableToReadSource = "Error: unable to read source file.\n";
inline constexpr std::string_view kUnableToWriteDestination = "Error: unable to write destination file.\n";
inline constexpr std::string_view kInterrupted = "Error: conversion interrupted.\n";
using texts::kSuccess;

}  // namespace quarnel::messages
