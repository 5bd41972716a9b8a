// Arbitrary argument vectors of 0 to 5 entries: the command line is either
// rejected or becomes a request whose paths are the arguments unchanged.
#include <cstdlib>
#include <string>
#include <vector>

#include "main/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Entries are separated by zero bytes; the program's name comes first.
    std::vector<std::string> entries = {"quarnel"};
    std::string current;
    for (std::size_t i = 0; i < size && entries.size() <= 5; ++i) {
        if (data[i] == 0) {
            entries.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (entries.size() <= 5 && size > 0) {
        entries.push_back(current);
    }
    std::vector<const char*> arguments;
    for (const std::string& entry : entries) {
        arguments.push_back(entry.c_str());
    }
    const auto request = quarnel::parse_command_line(arguments);
    if (!request) {
        return 0;
    }
    const bool two_paths = arguments.size() == 3;
    if ((!two_paths && arguments.size() != 4) || request->source != arguments[arguments.size() - 2] ||
        request->destination != arguments.back() || (two_paths && request->model != quarnel::ModemModel::Default)) {
        std::abort();
    }
    return 0;
}
