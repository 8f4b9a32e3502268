// Progress display on stderr for long work, shown only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace nurbs_tool {

/// "label: 1234/5000 (24%)" redrawn at most ten times a second on a terminal; silent when
/// stderr is redirected (scripts and tests see nothing) or when the work is small.
class Progress {
public:
    /// Silent below minimumItems items (quick work).
    Progress(std::string label, std::size_t total, std::size_t minimumItems = 2000);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Update(std::size_t done);

private:
    std::string m_label;
    std::size_t m_total;
    bool m_active;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_last;
};

}  // namespace nurbs_tool
