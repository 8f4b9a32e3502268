// Running the built nurbs program from end-to-end tests: its path, one run with the standard
// streams captured in files of a scratch folder, and the number printed after a key.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace program_test {

#ifdef NURBS_PROGRAM
inline const char* const kNurbs = NURBS_PROGRAM;
#else
inline const char* const kNurbs = "";
#endif

struct Outcome {
    int code = -1;
    std::string out, err;
};

/// True when the program was not built (the tests skip themselves).
inline bool ProgramMissing() {
    struct stat st {};
    return std::strlen(kNurbs) == 0 || ::stat(kNurbs, &st) != 0;
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/// Runs "nurbs ARGS" with stdout and stderr in DIR/out and DIR/err.
inline Outcome RunNurbs(const std::string& dir, const std::string& args) {
    const std::string cmd = std::string(kNurbs) + " " + args + " >'" + dir + "/out' 2>'" + dir + "/err'";
    const int status = std::system(cmd.c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir + "/out"), Slurp(dir + "/err")};
}

/// The number printed right after `key` in `text` (NaN, and a test failure, when key is missing).
inline double After(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    EXPECT_NE(at, std::string::npos) << key << " missing in\n" << text;
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + key.size(), nullptr);
}

}  // namespace program_test
