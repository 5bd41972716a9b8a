#include <span>

#include "main/command_line.h"

#ifdef _WIN32
// Wide arguments, so that paths in any script reach the program intact.
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    return quarnel::run_quarnel(std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc)));
}
