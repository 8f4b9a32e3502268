// Progress display on stderr for long work.
#include "Progress.h"

#include <cstdio>
#include <utility>
#include <unistd.h>

namespace nurbs_tool {

Progress::Progress(std::string label, std::size_t total, std::size_t minimumItems)
    : m_label(std::move(label)),
      m_total(total),
      m_active(total >= minimumItems && ::isatty(STDERR_FILENO) == 1),
      m_start(std::chrono::steady_clock::now()),
      m_last(m_start) {}

Progress::~Progress() {
    if (m_drawn) std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_label.size() + 40), "");
}

void Progress::Update(std::size_t done) {
    if (!m_active) return;
    const auto now = std::chrono::steady_clock::now();
    // Start drawing after half a second, then redraw every 100 ms.
    if (now - m_start < std::chrono::milliseconds(500) || now - m_last < std::chrono::milliseconds(100)) return;
    m_last = now;
    m_drawn = true;
    const double percent = m_total == 0 ? 100.0 : 100.0 * static_cast<double>(done) / static_cast<double>(m_total);
    std::fprintf(stderr, "\r%s: %zu/%zu (%.0f%%)", m_label.c_str(), done, m_total, percent);
    std::fflush(stderr);
}

}  // namespace nurbs_tool
