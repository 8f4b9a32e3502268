// FitPreamble: what every curve and surface fit does before it changes the fitted object.
// Internal.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/VMatrix.h>

#include <cstddef>
#include <deque>
#include <initializer_list>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// The preamble of a fit that replaces vectors of the fitted object (its knots) and its
/// control points:
/// - Hold: an argument that is one of the replaced vectors is read through a copy taken
///   before anything changes (a caller may pass the object's own knot vector as parameters
///   or knots);
/// - ZeroControlPoints: the control points sized to all-zero points, their storage reused
///   when it is large enough; for a curve they go back to all zeros if an exception (an
///   allocation failure) unwinds the fit before Keep(), as a failed fit leaves them.
/// Not copyable; arguments returned by Hold live as long as the preamble.
class FitPreamble {
public:
    explicit FitPreamble(std::initializer_list<const std::vector<double>*> replaced);
    FitPreamble(const FitPreamble&) = delete;
    FitPreamble& operator=(const FitPreamble&) = delete;
    ~FitPreamble();

    /// v itself, or a copy of it when it is one of the replaced vectors.
    const std::vector<double>& Hold(const std::vector<double>& v);

    /// P becomes n all-zero points; a vector that has to grow gets a fresh block that is
    /// advised to use huge pages before it is first written (math/HugePages.h). Armed: the
    /// points are zeroed again if the fit unwinds before Keep().
    void ZeroControlPoints(std::vector<Math::point<double, 4>>& P, std::size_t n);
    /// g becomes a rows x cols grid of zero points, its storage reused when it has that shape.
    static void ZeroControlPoints(VMatrix<Math::point<double, 4>>& g, std::size_t rows, std::size_t cols);

    /// The fit is done (successful or failed by its own rules): the points stay as they are.
    void Keep() { m_armed = nullptr; }

private:
    std::vector<const std::vector<double>*> m_replaced;
    std::deque<std::vector<double>> m_copies;  // stable addresses
    std::vector<Math::point<double, 4>>* m_armed = nullptr;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK
