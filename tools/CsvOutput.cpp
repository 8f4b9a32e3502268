// CSV output of the nurbs program.
#include "CsvOutput.h"

#include "ToolError.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

namespace nurbs_tool {

CsvOutput::CsvOutput(const std::string& path) : m_path(path.empty() ? "-" : path) {
    if (m_path == "-") {
        m_file = stdout;
    } else {
        m_file = std::fopen(m_path.c_str(), "wb");
        if (m_file == nullptr) throw InputError(Where(m_path, 0, std::string("cannot write: ") + std::strerror(errno)));
        m_owned = true;
    }
    m_buffer.reserve(1 << 16);
}

CsvOutput::~CsvOutput() {
    if (m_owned && m_file != nullptr) std::fclose(m_file);
}

std::string CsvOutput::Format(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

void CsvOutput::Separator() {
    if (m_rowStarted) m_buffer += ',';
    m_rowStarted = true;
}

void CsvOutput::Header(const std::vector<std::string>& names) {
    for (const std::string& n : names) {
        Separator();
        m_buffer += n;
    }
    EndRow();
}

void CsvOutput::AddNumber(double v) {
    Separator();
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    m_buffer.append(buf, r.ptr);
}

void CsvOutput::AddInteger(unsigned long long v) {
    Separator();
    m_buffer += std::to_string(v);
}

void CsvOutput::EndRow() {
    m_buffer += '\n';
    m_rowStarted = false;
    if (m_buffer.size() > (1 << 15)) {
        std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file);
        m_buffer.clear();
    }
}

void CsvOutput::Finish() {
    if (!m_buffer.empty()) std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file);
    m_buffer.clear();
    const bool failed = std::fflush(m_file) != 0 || std::ferror(m_file) != 0;
    if (m_owned) {
        const bool closeFailed = std::fclose(m_file) != 0;
        m_file = nullptr;
        if (failed || closeFailed) throw InputError(Where(m_path, 0, "cannot write"));
    } else if (failed) {
        throw InputError(Where("standard output", 0, "cannot write"));
    }
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw InputError(Where(path, 0, std::string("cannot write: ") + std::strerror(errno)));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw InputError(Where(path, 0, "cannot write"));
}

}  // namespace nurbs_tool
