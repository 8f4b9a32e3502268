// Helpers of the persistence tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace test {

/// Whether the stand-alone XML tool xmllint accepts the document as well-formed. Without
/// xmllint on the machine the check is skipped (true).
inline bool XmlLintAccepts(const std::string& xml) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return true;
    char path[] = "/tmp/velsax_lint_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return false;
    close(fd);
    {
        std::ofstream out(path, std::ios::binary);
        out << xml;
    }
    const std::string command = std::string("xmllint --noout ") + path + " 2>&1";
    const int status = std::system(command.c_str());
    std::remove(path);
    return status == 0;
}

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace test
