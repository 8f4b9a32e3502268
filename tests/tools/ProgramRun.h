// Running the built nurbs program from end-to-end tests: a fixture with a scratch folder per test
// suite, one run with the standard streams captured, and readers of what the program writes (CSV
// rows, "key: number" lines, curve files read back through the library).
#pragma once

#include <VelSDK/Nurbs.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

/// The fields of every line of CSV text (the program writes no quoted fields).
inline std::vector<std::vector<std::string>> Csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line, field;
    while (std::getline(in, line)) {
        rows.emplace_back();
        std::istringstream l(line);
        while (std::getline(l, field, ',')) rows.back().push_back(field);
    }
    return rows;
}

/// A whole field as a number (a test failure when anything is left over).
inline double Number(const std::string& field) {
    double v = 0.0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
    EXPECT_TRUE(r.ec == std::errc() && r.ptr == field.data() + field.size()) << "not a number: " << field;
    return v;
}

/// The number printed right after `key` in `text` (NaN, and a test failure, when key is missing).
inline double After(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    EXPECT_NE(at, std::string::npos) << key << " missing in\n" << text;
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + key.size(), nullptr);
}

/// A curve file written by the program, read back through the library (record or document).
inline V3dCurveNurbsPlus Load(const std::string& path) {
    V3dCurveNurbsPlus c;
    if (path.size() > 4 && path.substr(path.size() - 4) == ".xml") {
        EXPECT_TRUE(V3dCurveNurbsPlusDocument::Load(Slurp(path), c).ok) << path;
    } else {
        std::ifstream in(path, std::ios::binary);
        in >> c;
        EXPECT_FALSE(in.fail()) << path;
    }
    return c;
}

inline VelSDK::NURBS::V3dNurbsCurve Held(const V3dCurveNurbsPlus& c) {
    return {c.GetControlPoints(), c.GetKnots(), static_cast<std::size_t>(c.GetOrder()) - 1};
}

/// A scratch folder for the suite; every test skips itself when the program was not built.
class ProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/nurbs-e2e-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        s_dir = dir;
    }
    static void TearDownTestSuite() {
        if (!s_dir.empty()) std::system(("rm -rf " + Quote(s_dir)).c_str());
    }
    void SetUp() override {
        struct stat st {};
        if (std::strlen(kNurbs) == 0 || ::stat(kNurbs, &st) != 0) GTEST_SKIP() << "the nurbs program is not built";
    }

    static std::string Path(const std::string& name) { return s_dir + "/" + name; }
    static std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    /// Runs "nurbs ARGS" (with `input` on standard input when given).
    static Outcome Run(const std::string& args, const std::string& input = std::string()) {
        std::string command =
            Quote(kNurbs) + " " + args + " >" + Quote(Path("out.txt")) + " 2>" + Quote(Path("err.txt"));
        if (!input.empty()) command += " <" + Quote(Write("stdin.txt", input));
        const int status = std::system(command.c_str());
        return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(Path("out.txt")), Slurp(Path("err.txt"))};
    }
    /// Standard output of a run that must succeed.
    static std::string Ok(const std::string& args) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.code, 0) << "nurbs " << args << "\nstderr: " << r.err;
        return r.out;
    }
    /// Expects `code` and `lines` lines on stderr (notes, then the error) holding every needle.
    static void Fails(int code, const std::string& args, const std::vector<std::string>& needles = {}, int lines = 1) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.code, code) << "nurbs " << args << "\nstderr: " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), lines) << "nurbs " << args << "\n" << r.err;
        for (const std::string& n : needles) EXPECT_NE(r.err.find(n), std::string::npos) << r.err << "lacks: " << n;
    }
    static inline std::string s_dir;
};

}  // namespace program_test
