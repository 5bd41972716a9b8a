#include <span>

#include "main/inspect_command_line.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    return quarnel::run_quarnel_inspect(std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc)));
}
