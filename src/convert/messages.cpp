#include "convert/messages.h"

#include <cstdio>

namespace quarnel::messages {

void print(std::string_view message)
{
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fflush(stderr);
}

}  // namespace quarnel::messages
