// The one place where a path of the program meets the file system.
#pragma once

#include <string>
#include <string_view>

#include "protocol/cp1250.hpp"

namespace vendilox {

// Every text inside the program, paths included, is Windows-1250. The POSIX file system takes
// UTF-8 names, so a path is converted right before a system call; Windows takes the bytes as
// they are.
inline std::string SystemPath(std::string_view path) {
#ifdef _WIN32
    return std::string(path);
#else
    return Cp1250ToUtf8(path);
#endif
}

}  // namespace vendilox
