// The conversion's messages. Each goes to standard error as it stands.
#pragma once

#include <string_view>

namespace quarnel::messages {

inline constexpr std::string_view kUnableToOpenSource = "Error: unable to open source file.\n";
inline constexpr std::string_view kBadSourceLength = "Error: source file length is not a multiple of 2048 bytes.\n";
inline constexpr std::string_view kSameFile = "Error: source and destination are the same file.\n";
inline constexpr std::string_view kUnableToAllocate = "Error: unable to allocate memory for buffers.\n";
inline constexpr std::string_view kUnableToCreateDestination = "Error: unable to create destination file.\n";
inline constexpr std::string_view kUnableToReadSource = "Error: unable to read source file.\n";
inline constexpr std::string_view kUnableToWriteDestination = "Error: unable to write destination file.\n";
inline constexpr std::string_view kInterrupted = "Error: conversion interrupted.\n";
inline constexpr std::string_view kSuccess = "Operation successfully completed.\n";

// Standard error stays a text stream, so each newline becomes the platform's line end.
void print(std::string_view message);

// Prints the message of a failure and gives the status that reports it: -1.
int fail(std::string_view message);

}  // namespace quarnel::messages
