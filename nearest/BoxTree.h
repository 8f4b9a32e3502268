// BoxTree: a bounding-box hierarchy over items with axis-aligned boxes, and the
// branch-and-bound walk of the nearest-point searches (internal).
#pragma once

#include <VelSDK/Point.h>

#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Squared Euclidean distance from q to the box [lo, hi] (0 inside it).
inline double BoxDistance2(const double* lo, const double* hi, const Math::point<double, 3>& q) {
    double sum = 0.0;
    for (int c = 0; c < 3; ++c) {
        double e = 0.0;
        if (q[c] < lo[c]) e = lo[c] - q[c];
        if (q[c] > hi[c]) e = q[c] - hi[c];
        sum += e * e;
    }
    return sum;
}

/// Top-down median-split hierarchy (Wald, Boulos & Shirley, "Ray tracing deformable scenes
/// using dynamic bounding volume hierarchies", ACM TOG 26(1), 2007, section 3): the items of a
/// node are split at the median of their box centres along the longest axis of those centres,
/// so node boxes stay compact even where a curve wanders back and forth. One item per leaf.
class BoxTree {
public:
    struct Node {
        double lo[3];
        double hi[3];
        std::uint32_t item;  // the item of a leaf
        std::uint32_t left;  // children; 0 for a leaf (the root is no node's child)
        std::uint32_t right;
    };

    /// boxes holds 6 values per item: lo x, y, z, hi x, y, z. count >= 1, below 2^31.
    void Build(const std::vector<double>& boxes, std::size_t count) {
        m_nodes.clear();
        m_nodes.reserve(2 * count);
        std::vector<std::uint32_t> order(count);
        std::vector<double> centre(3 * count);
        for (std::size_t k = 0; k < count; ++k) {
            order[k] = static_cast<std::uint32_t>(k);
            for (int c = 0; c < 3; ++c) centre[3 * k + c] = 0.5 * boxes[6 * k + c] + 0.5 * boxes[6 * k + 3 + c];
        }
        BuildNode(boxes, order.data(), static_cast<std::uint32_t>(count), centre.data());
    }

    /// Depth-first branch and bound, nearer child first: visit(item) is called for every leaf
    /// whose box is within bound() (re-read at every node, so a visit that improves the best
    /// distance prunes the rest of the walk).
    template <typename Bound, typename Visit>
    void Traverse(const Math::point<double, 3>& q, Bound&& bound, Visit&& visit) const {
        if (m_nodes.empty()) return;
        std::uint32_t stack[kStackDepth];
        std::size_t top = 0;
        stack[top++] = 0;
        while (top > 0) {
            const Node& node = m_nodes[stack[--top]];
            if (BoxDistance2(node.lo, node.hi, q) > bound()) continue;
            if (node.left == 0) {
                visit(static_cast<std::size_t>(node.item));
                continue;
            }
            const double dl = BoxDistance2(m_nodes[node.left].lo, m_nodes[node.left].hi, q);
            const double dr = BoxDistance2(m_nodes[node.right].lo, m_nodes[node.right].hi, q);
            const double bnd = bound();
            if (dl <= dr) {
                if (dr <= bnd) stack[top++] = node.right;
                if (dl <= bnd) stack[top++] = node.left;
            } else {
                if (dl <= bnd) stack[top++] = node.left;
                if (dr <= bnd) stack[top++] = node.right;
            }
        }
    }

    /// Box of everything (the root's); the caller ensures the tree is built.
    const Node& Root() const { return m_nodes[0]; }
    bool Empty() const { return m_nodes.empty(); }

private:
    // A median split halves the item count, so the depth stays below 33 and the stack (one
    // pending sibling per level) below 66 entries.
    static constexpr std::size_t kStackDepth = 80;

    std::uint32_t BuildNode(const std::vector<double>& boxes, std::uint32_t* order, std::uint32_t count,
                            const double* centre) {
        const std::uint32_t index = static_cast<std::uint32_t>(m_nodes.size());
        m_nodes.push_back(Node{{DBL_MAX, DBL_MAX, DBL_MAX}, {-DBL_MAX, -DBL_MAX, -DBL_MAX}, order[0], 0, 0});
        if (count == 1) {
            Node& leaf = m_nodes[index];
            for (int c = 0; c < 3; ++c) {
                leaf.lo[c] = boxes[6 * order[0] + c];
                leaf.hi[c] = boxes[6 * order[0] + 3 + c];
            }
            return index;
        }
        double lo3[3] = {DBL_MAX, DBL_MAX, DBL_MAX};
        double hi3[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
        for (std::uint32_t i = 0; i < count; ++i)
            for (int c = 0; c < 3; ++c) {
                lo3[c] = std::min(lo3[c], centre[3 * order[i] + c]);
                hi3[c] = std::max(hi3[c], centre[3 * order[i] + c]);
            }
        int axis = 0;
        for (int c = 1; c < 3; ++c)
            if (hi3[c] - lo3[c] > hi3[axis] - lo3[axis]) axis = c;
        const std::uint32_t half = count / 2;
        std::nth_element(order, order + half, order + count, [&](std::uint32_t x, std::uint32_t y) {
            const double cx = centre[3 * x + axis];
            const double cy = centre[3 * y + axis];
            return cx < cy || (cx == cy && x < y);
        });
        const std::uint32_t left = BuildNode(boxes, order, half, centre);
        const std::uint32_t right = BuildNode(boxes, order + half, count - half, centre);
        Node& node = m_nodes[index];
        node.left = left;
        node.right = right;
        for (int c = 0; c < 3; ++c) {
            node.lo[c] = std::min(m_nodes[left].lo[c], m_nodes[right].lo[c]);
            node.hi[c] = std::max(m_nodes[left].hi[c], m_nodes[right].hi[c]);
        }
        return index;
    }

    std::vector<Node> m_nodes;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK
