// CSV output of the nurbs program: to a file or to standard output.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace nurbs_tool {

/// Writes comma-separated rows. Numbers are written in the shortest form that reads back
/// to the same double, so the CSV carries the library's results bit for bit.
class CsvOutput {
public:
    /// path empty or "-": standard output.
    explicit CsvOutput(const std::string& path);
    ~CsvOutput();
    CsvOutput(const CsvOutput&) = delete;
    CsvOutput& operator=(const CsvOutput&) = delete;

    void Header(const std::vector<std::string>& names);
    /// One row; the values are appended with AddNumber / AddInteger and ended by EndRow.
    void AddNumber(double v);
    void AddInteger(unsigned long long v);
    void EndRow();
    /// Flushes; InputError when the output could not be written.
    void Finish();

    static std::string Format(double v);

private:
    void Separator();

    std::string m_path;
    std::FILE* m_file = nullptr;
    bool m_owned = false;
    bool m_rowStarted = false;
    std::string m_buffer;
};

/// Writes a whole file at once; InputError ("file: cannot write: reason") on failure.
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace nurbs_tool
