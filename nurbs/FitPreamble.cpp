#include "nurbs/FitPreamble.h"

#include "math/HugePages.h"

#include <algorithm>

namespace VelSDK {
namespace NURBS {
namespace detail {

using P4 = Math::point<double, 4>;

FitPreamble::FitPreamble(std::initializer_list<const std::vector<double>*> replaced) : m_replaced(replaced) {}

FitPreamble::~FitPreamble() {
    if (m_armed != nullptr) std::fill(m_armed->begin(), m_armed->end(), P4{0.0, 0.0, 0.0, 0.0});
}

const std::vector<double>& FitPreamble::Hold(const std::vector<double>& v) {
    if (std::find(m_replaced.begin(), m_replaced.end(), &v) == m_replaced.end()) return v;
    m_copies.push_back(v);
    return m_copies.back();
}

void FitPreamble::ZeroControlPoints(std::vector<P4>& P, std::size_t n) {
    if (P.capacity() < n) {
        std::vector<P4> fresh;
        fresh.reserve(n);
        Math::AdviseHugePages(fresh.data(), n * sizeof(P4));
        P.swap(fresh);
    }
    P.assign(n, P4{0.0, 0.0, 0.0, 0.0});
    m_armed = &P;
}

void FitPreamble::ZeroControlPoints(VMatrix<P4>& g, std::size_t rows, std::size_t cols) {
    if (g.ColumnCount() == cols && g.Elements().size() == rows * cols)
        std::fill(g.Elements().begin(), g.Elements().end(), P4{0.0, 0.0, 0.0, 0.0});
    else
        g = VMatrix<P4>(rows, cols, P4{0.0, 0.0, 0.0, 0.0});
}

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK
