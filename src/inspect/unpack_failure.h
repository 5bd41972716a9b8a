// Why a disc could not be unpacked: apart from the unpacking, so that the
// inspector's texts, which know no operating system, can word each.
#pragma once

#include <string>

namespace quarnel {

enum class UnpackFailure {
    None,
    Exists,        // something is named as the folder already
    CannotCreate,  // the folder, or an entry in it, could not be made
    NameTaken,     // the destination's file system took the entry for one made before it (letter case, say)
    NameUnfit,     // a name this system cannot hold (Windows: " * : < > ? \ |, a device name, a final '.' or ' ')
    WriteFailed,   // a file's bytes, its time or the folder's flush
};

struct UnpackOutcome {
    UnpackFailure failure = UnpackFailure::None;
    std::string path;  // the disc's entry it concerns, '/' between names; empty for the folder itself
};

}  // namespace quarnel
