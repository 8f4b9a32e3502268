// Adaptive, crack-free tessellation of NURBS surfaces and polylines of NURBS curves.
//
// Surfaces: the Bezier patches of the surface (The NURBS Book, 2nd ed., A5.6 in sec. 5.3, through
// DecomposeToBezierPatches) are refined as quadtrees in the parameter domain, breadth first
// over all patches so that a triangle budget cuts evenly. Cell corners live on one integer
// grid of 2^20 steps per knot span (coordinate = span * 2^20 + step), so a point on a patch
// border has the same key from both sides and is evaluated once; leaves are then closed with
// every key a neighbour put on their edges, which is the usual remedy against T-junctions in
// restricted-quadtree meshing (de Berg et al., Computational Geometry, 3rd ed., ch. 14).
#include <VelSDK/SurfaceEditing.h>
#include <VelSDK/SurfaceTessellation.h>

#include "exchange/ExchangeGeometry.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace VelSDK {
namespace Mesh {

using Math::point;
using NURBS::V3dNurbsCurve;
using NURBS::V3dNurbsSurface;
using P3 = point<double, 3>;

namespace {

constexpr unsigned kLevels = 20;
constexpr std::uint64_t kSide = std::uint64_t{1} << kLevels;

using Math::Dot;
P3 Sub(const P3& a, const P3& b) { return a - b; }
P3 Cross(const P3& a, const P3& b) {
    return P3{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Norm(const P3& a) { return std::sqrt(Dot(a, a)); }
P3 Lerp3(const P3& a, double wa, const P3& b, double wb, const P3& c, double wc) {
    return P3{wa * a[0] + wb * b[0] + wc * c[0], wa * a[1] + wb * b[1] + wc * c[1], wa * a[2] + wb * b[2] + wc * c[2]};
}

// A cell of the refinement: [x0, x1] x [y0, y1] on the grid. A cell over several knot spans
// is cut at its middle span border, a cell inside one span is halved (in U, in V or in both,
// as its sag asks).
struct Cell {
    std::uint64_t x0, x1, y0, y1;
    std::uint64_t SizeX() const { return x1 - x0; }
    std::uint64_t SizeY() const { return y1 - y0; }
};

// Sag of a cell's two triangles at the midpoints of its edges along U (bottom, top), along V
// (left, right) and inside (centre, centroids, quarter points).
struct Sags {
    double alongU = 0.0, alongV = 0.0, inner = 0.0;
    double Max() const { return std::max(alongU, std::max(alongV, inner)); }
};

struct KeyHash {
    std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& k) const {
        return std::hash<std::uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ (k.second + 0x632BE59BD9B4E019ull));
    }
};

class Tessellator {
public:
    Tessellator(const V3dNurbsSurface& surface, const NURBS::BezierPatchDecomposition& d, const TessellationOptions& o,
                TriangleMesh& mesh)
        : m_surface(surface), m_d(d), m_o(o), m_mesh(mesh) {
        m_closedU = Exchange::detail::SurfaceIsClosed(surface, true);
        m_closedV = Exchange::detail::SurfaceIsClosed(surface, false);
        for (std::size_t i = 0; i < d.spansU; ++i) {
            m_u0.push_back(d.patches[i * d.spansV].u0);
            m_u1.push_back(d.patches[i * d.spansV].u1);
        }
        for (std::size_t j = 0; j < d.spansV; ++j) {
            m_v0.push_back(d.patches[j].v0);
            m_v1.push_back(d.patches[j].v1);
        }
        for (const auto& p : d.patches)
            for (const auto& c : p.surface.GetControlPoints().Elements())
                for (int k = 0; k < 3; ++k) m_size = std::max(m_size, std::fabs(c[k] / c[3]));
    }

    void Run(TessellationReport& report) {
        Refine(report);
        Triangulate(report);
    }

private:
    // Parameter of a grid coordinate: exact knot values at span borders.
    static double Param(std::uint64_t x, const std::vector<double>& lo, const std::vector<double>& hi) {
        std::uint64_t i = x / kSide, k = x % kSide;
        if (i == lo.size()) return hi.back();
        return k == 0 ? lo[i] : lo[i] + (hi[i] - lo[i]) * (static_cast<double>(k) / static_cast<double>(kSide));
    }
    double U(std::uint64_t x) const { return Param(x, m_u0, m_u1); }
    double V(std::uint64_t y) const { return Param(y, m_v0, m_v1); }
    const V3dNurbsSurface& PatchOf(std::uint64_t x, std::uint64_t y) const {
        const std::size_t i = std::min<std::size_t>(x / kSide, m_d.spansU - 1);
        const std::size_t j = std::min<std::size_t>(y / kSide, m_d.spansV - 1);
        return m_d.patches[i * m_d.spansV + j].surface;
    }

    // Index of the vertex at grid point (x, y), evaluated on first use.
    std::uint32_t Vertex(std::uint64_t x, std::uint64_t y) {
        const auto found = m_index.find({x, y});
        if (found != m_index.end()) return found->second;
        const V3dNurbsSurface& s = PatchOf(x, y);
        const double u = U(x), v = V(y);
        const auto d = s.DeriveAt(u, v, 1);
        P3 n = Cross(d(1, 0), d(0, 1));
        double len = Norm(n);
        // Where Su x Sv vanishes (a collapsed edge), the normal is taken a little inside.
        const double uc = 0.5 * (s.GetMinParamU() + s.GetMaxParamU()), vc = 0.5 * (s.GetMinParamV() + s.GetMaxParamV());
        for (double step = 1e-6; !(len > 1e-14 * Norm(d(1, 0)) * Norm(d(0, 1)) && len > 0) && step < 0.2; step *= 100) {
            const auto e = s.DeriveAt(u + (uc - u) * step, v + (vc - v) * step, 1);
            n = Cross(e(1, 0), e(0, 1));
            len = Norm(n);
        }
        if (len > 0 && std::isfinite(len)) n = P3{n[0] / len, n[1] / len, n[2] / len};
        const std::uint32_t id = static_cast<std::uint32_t>(m_mesh.vertices.size());
        m_mesh.vertices.push_back(d(0, 0));
        m_mesh.normals.push_back(n);
        m_mesh.parameters.push_back({u, v});
        m_index.emplace(std::make_pair(x, y), id);
        return id;
    }

    // True when the diagonal A-C is the shorter one (the cell is split along it).
    bool SplitAC(const P3& A, const P3& B, const P3& C, const P3& D) const {
        return Norm(Sub(C, A)) <= Norm(Sub(D, B));
    }

    // The point of the cell's two triangles at local parameters (s, t) in [0, 1]^2.
    static P3 OnTriangles(bool ac, const P3& A, const P3& B, const P3& C, const P3& D, double s, double t) {
        if (ac) return s >= t ? Lerp3(A, 1 - s, B, s - t, C, t) : Lerp3(A, 1 - t, D, t - s, C, s);
        if (s + t <= 1) return Lerp3(A, 1 - s - t, B, s, D, t);
        return Lerp3(C, s + t - 1, B, 1 - t, D, 1 - s);
    }

    // Sags of the cell's two triangles at the test points; the angle test marks the direction
    // whose corner normals turn too much.
    Sags Sag(const Cell& c) {
        const std::uint32_t a = Vertex(c.x0, c.y0), b = Vertex(c.x1, c.y0), cc = Vertex(c.x1, c.y1),
                            d = Vertex(c.x0, c.y1);
        const P3 A = m_mesh.vertices[a], B = m_mesh.vertices[b], C = m_mesh.vertices[cc], D = m_mesh.vertices[d];
        const bool ac = SplitAC(A, B, C, D);
        const double u0 = U(c.x0), u1 = U(c.x1), v0 = V(c.y0), v1 = V(c.y1);
        // Inside one knot span the Bezier patch evaluates; across spans the surface itself.
        const bool onePatch = c.x1 - c.x0 <= kSide && c.y1 - c.y0 <= kSide;
        const V3dNurbsSurface& s = onePatch ? PatchOf(c.x0, c.y0) : m_surface;
        Sags out;
        // kind 0: on an edge along U, 1: on an edge along V, 2: inside.
        auto test = [&](double fs, double ft, int kind) {
            const P3 onSurface = s.EvaluateAt(u0 + (u1 - u0) * fs, v0 + (v1 - v0) * ft);
            double gap = Norm(Sub(onSurface, OnTriangles(ac, A, B, C, D, fs, ft)));
            if (std::isnan(gap)) gap = INFINITY;
            double& slot = kind == 0 ? out.alongU : kind == 1 ? out.alongV : out.inner;
            slot = std::max(slot, gap);
        };
        static const double pts[][2] = {{0.5, 0.0},       {0.5, 1.0},       {0.0, 0.5},       {1.0, 0.5},
                                        {0.5, 0.5},       {2. / 3, 1. / 3}, {1. / 3, 2. / 3}, {1. / 3, 1. / 3},
                                        {2. / 3, 2. / 3}, {0.25, 0.25},     {0.75, 0.25},     {0.25, 0.75},
                                        {0.75, 0.75}};
        for (std::size_t k = 0; k < sizeof pts / sizeof pts[0]; ++k)
            test(pts[k][0], pts[k][1], k < 2 ? 0 : k < 4 ? 1 : 2);
        if (!onePatch) {
            // Over several spans also at every span corner and span centre the cell covers.
            const std::uint64_t nx = std::max<std::uint64_t>(1, (c.x1 - c.x0) / kSide);
            const std::uint64_t ny = std::max<std::uint64_t>(1, (c.y1 - c.y0) / kSide);
            for (std::uint64_t i = 0; i <= 2 * nx; ++i)
                for (std::uint64_t j = 0; j <= 2 * ny; ++j) {
                    const bool edgeU = j == 0 || j == 2 * ny, edgeV = i == 0 || i == 2 * nx;
                    if (edgeU && edgeV) continue;  // the corners themselves
                    const double fs = (U(c.x0 + (c.x1 - c.x0) * i / (2 * nx)) - u0) / (u1 - u0);
                    const double ft = (V(c.y0 + (c.y1 - c.y0) * j / (2 * ny)) - v0) / (v1 - v0);
                    test(fs, ft, edgeU ? 0 : edgeV ? 1 : 2);
                }
        }
        if (m_o.angleTolerance > 0) {
            const double cosLimit = std::cos(m_o.angleTolerance);
            auto turns = [&](std::uint32_t i, std::uint32_t j) {
                return Dot(m_mesh.normals[i], m_mesh.normals[j]) < cosLimit;
            };
            if (turns(a, b) || turns(d, cc)) out.alongU = INFINITY;
            if (turns(a, d) || turns(b, cc)) out.alongV = INFINITY;
            if (turns(a, cc) || turns(b, d)) out.inner = INFINITY;
        }
        return out;
    }

    // Where a cell's side [lo, hi] is cut: at the middle span border over several spans, else
    // in the middle; hi when it cannot be cut (one grid step).
    static std::uint64_t CutAt(std::uint64_t lo, std::uint64_t hi) {
        const std::uint64_t spans = (hi - lo) / kSide;
        if (spans > 1) return lo + (spans / 2) * kSide;
        return hi - lo >= 2 ? lo + (hi - lo) / 2 : hi;
    }

    void Refine(TessellationReport& report) {
        // A tolerance below the rounding of the coordinates acts as that rounding.
        m_tolerance = std::max(m_o.chordTolerance, 1e-13 * m_size);
        // One root cell over the whole domain: flat regions may end in cells over many spans.
        RefineCells({{0, m_d.spansU * kSide, 0, m_d.spansV * kSide}}, report);
    }

    // Refines cells breadth first into leaves (appended to m_leaves).
    void RefineCells(std::vector<Cell> queue, TessellationReport& report) {
        const double tol = m_tolerance;
        std::size_t head = 0;
        while (head < queue.size()) {
            const Cell c = queue[head++];
            const Sags sag = Sag(c);
            const std::uint64_t cx = CutAt(c.x0, c.x1), cy = CutAt(c.y0, c.y1);
            // A cell over several spans is cut until it lies in one span, unless it is flat.
            if (sag.Max() > tol) {
                // Cut the direction(s) whose edges sag; a sag only inside cuts the longer side.
                bool splitU = sag.alongU > tol, splitV = sag.alongV > tol;
                if (!splitU && !splitV) {
                    const P3 &A = m_mesh.vertices[Vertex(c.x0, c.y0)], &B = m_mesh.vertices[Vertex(c.x1, c.y0)];
                    const P3 &C = m_mesh.vertices[Vertex(c.x1, c.y1)], &D = m_mesh.vertices[Vertex(c.x0, c.y1)];
                    const bool uLonger = Norm(Sub(B, A)) + Norm(Sub(C, D)) >= Norm(Sub(D, A)) + Norm(Sub(C, B));
                    splitU = uLonger;
                    splitV = !uLonger;
                }
                if (cx == c.x1) splitU = false, splitV = cy != c.y1;
                if (cy == c.y1) splitV = false, splitU = splitU || cx != c.x1;
                const std::size_t add = (splitU && splitV) ? 3 : 1;
                const std::size_t alive = m_leaves.size() + (queue.size() - head) + 1;
                if ((splitU || splitV) && 2 * (alive + add) <= m_o.maxTriangles) {
                    const std::uint64_t xm = splitU ? cx : c.x1, ym = splitV ? cy : c.y1;
                    queue.push_back({c.x0, xm, c.y0, ym});
                    if (splitU) queue.push_back({xm, c.x1, c.y0, ym});
                    if (splitV) queue.push_back({c.x0, xm, ym, c.y1});
                    if (splitU && splitV) queue.push_back({xm, c.x1, ym, c.y1});
                    continue;
                }
                report.budgetReached = true;
            }
            report.estimatedDeviation = std::max(report.estimatedDeviation, sag.Max());
            m_leaves.push_back(c);
            if (head > 4096 && head * 2 > queue.size()) {  // keep the queue's memory at the frontier
                queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(head));
                head = 0;
            }
        }
        report.cells = m_leaves.size();
    }

    // Sag of one triangle at its centroid and edge midpoints (the surface at the averaged
    // parameters against the averaged points).
    double FanSag(const V3dNurbsSurface& patch, std::uint32_t a, std::uint32_t b, std::uint32_t c) const {
        static const double w[4][3] = {{1. / 3, 1. / 3, 1. / 3}, {0.5, 0.5, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}};
        const auto &pa = m_mesh.parameters[a], &pb = m_mesh.parameters[b], &pc = m_mesh.parameters[c];
        double worst = 0.0;
        for (const auto& k : w) {
            const P3 x = Lerp3(m_mesh.vertices[a], k[0], m_mesh.vertices[b], k[1], m_mesh.vertices[c], k[2]);
            const P3 y = patch.EvaluateAt(k[0] * pa[0] + k[1] * pb[0] + k[2] * pc[0],
                                          k[0] * pa[1] + k[1] * pb[1] + k[2] * pc[1]);
            const double gap = Norm(Sub(x, y));
            worst = std::isnan(gap) ? INFINITY : std::max(worst, gap);
        }
        return worst;
    }

    // Triangles between two chains of the ring that run side by side: chain one from ring
    // position a0 backwards to a1, chain two from b0 forwards to b1, both starting on one edge
    // of the cell and ending on the opposite one, progressing along parameter `axis` (0: u,
    // 1: v). Zipper order: advance on the chain whose next point is nearer the start edge.
    void Strip(const std::vector<std::uint32_t>& ring, std::size_t a0, std::size_t a1, std::size_t b0, std::size_t b1,
               int axis, std::vector<std::array<std::uint32_t, 3>>& tri) const {
        const std::size_t n = ring.size();
        std::size_t i = a0, j = b0;
        auto coordinate = [&](std::size_t k) { return m_mesh.parameters[ring[k]][axis]; };
        const bool fromStartIncreasing = coordinate(a1) > coordinate(a0);
        auto before = [&](double x, double y) { return fromStartIncreasing ? x < y : x > y; };
        while (i != a1 || j != b1) {
            const std::size_t ni = (i + n - 1) % n, nj = (j + 1) % n;
            const bool advanceA = j == b1 || (i != a1 && !before(coordinate(nj), coordinate(ni)));
            if (advanceA) {
                tri.push_back({ring[i], ring[j], ring[ni]});
                i = ni;
            } else {
                tri.push_back({ring[i], ring[j], ring[nj]});
                j = nj;
            }
        }
    }

    void AddTriangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        const P3& A = m_mesh.vertices[a];
        const P3& B = m_mesh.vertices[b];
        const P3& C = m_mesh.vertices[c];
        const double eps = 1e-12 * m_size;
        if (Norm(Sub(A, B)) <= eps || Norm(Sub(B, C)) <= eps || Norm(Sub(C, A)) <= eps) return;  // collapsed
        m_mesh.triangles.push_back({a, b, c});
    }

    // Triangulates every leaf (the mesh's triangles are replaced); returns the leaves whose
    // triangles sag beyond the tolerance.
    std::vector<std::size_t> TriangulatePass() {
        std::vector<std::size_t> failing;
        m_mesh.triangles.clear();
        // Every leaf corner on its grid line, so that a leaf finds the points on its edges.
        std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> rows, cols;
        for (const Cell& c : m_leaves) {
            for (std::uint64_t y : {c.y0, c.y1}) {
                rows[y].push_back(c.x0);
                rows[y].push_back(c.x1);
            }
            for (std::uint64_t x : {c.x0, c.x1}) {
                cols[x].push_back(c.y0);
                cols[x].push_back(c.y1);
            }
        }
        // A closed direction's two border lines are one curve in space: each side gets the other's
        // points, so that the seam has no T-junction either (its vertices stay twofold, one per
        // parameter value).
        auto mergeSeam = [](std::unordered_map<std::uint64_t, std::vector<std::uint64_t>>& lines, std::uint64_t last) {
            std::vector<std::uint64_t>& a = lines[0];
            std::vector<std::uint64_t>& b = lines[last];
            std::vector<std::uint64_t> both(a);
            both.insert(both.end(), b.begin(), b.end());
            a = both;
            b = both;
        };
        if (m_closedU) mergeSeam(cols, m_d.spansU * kSide);
        if (m_closedV) mergeSeam(rows, m_d.spansV * kSide);
        for (auto* lines : {&rows, &cols})
            for (auto& kv : *lines) {
                std::sort(kv.second.begin(), kv.second.end());
                kv.second.erase(std::unique(kv.second.begin(), kv.second.end()), kv.second.end());
            }
        // Points strictly inside (lo, hi) on a line.
        auto inside = [](const std::vector<std::uint64_t>& line, std::uint64_t lo, std::uint64_t hi) {
            auto b = std::upper_bound(line.begin(), line.end(), lo);
            auto e = std::lower_bound(b, line.end(), hi);
            return std::make_pair(b, e);
        };
        std::vector<std::uint32_t> ring;
        for (std::size_t leaf = 0; leaf < m_leaves.size(); ++leaf) {
            const Cell c = m_leaves[leaf];
            const std::uint64_t sx = c.SizeX(), sy = c.SizeY(), x0 = c.x0, y0 = c.y0, x1 = c.x1, y1 = c.y1;
            ring.clear();
            std::size_t extra[4];
            ring.push_back(Vertex(x0, y0));
            auto bottom = inside(rows[y0], x0, x1);
            extra[0] = static_cast<std::size_t>(bottom.second - bottom.first);
            for (auto it = bottom.first; it != bottom.second; ++it) ring.push_back(Vertex(*it, y0));
            ring.push_back(Vertex(x1, y0));
            auto right = inside(cols[x1], y0, y1);
            extra[1] = static_cast<std::size_t>(right.second - right.first);
            for (auto it = right.first; it != right.second; ++it) ring.push_back(Vertex(x1, *it));
            ring.push_back(Vertex(x1, y1));
            auto top = inside(rows[y1], x0, x1);
            extra[2] = static_cast<std::size_t>(top.second - top.first);
            for (auto it = top.second; it != top.first;) ring.push_back(Vertex(*--it, y1));
            ring.push_back(Vertex(x0, y1));
            auto left = inside(cols[x0], y0, y1);
            extra[3] = static_cast<std::size_t>(left.second - left.first);
            for (auto it = left.second; it != left.first;) ring.push_back(Vertex(x0, *--it));

            const std::size_t n = ring.size();
            if (n == 4) {
                const P3 &A = m_mesh.vertices[ring[0]], &B = m_mesh.vertices[ring[1]], &C = m_mesh.vertices[ring[2]],
                         &D = m_mesh.vertices[ring[3]];
                if (SplitAC(A, B, C, D)) {
                    AddTriangle(ring[0], ring[1], ring[2]);
                    AddTriangle(ring[0], ring[2], ring[3]);
                } else {
                    AddTriangle(ring[0], ring[1], ring[3]);
                    AddTriangle(ring[1], ring[2], ring[3]);
                }
                continue;
            }
            const bool onePatch = sx <= kSide && sy <= kSide;
            const V3dNurbsSurface& patch = onePatch ? PatchOf(x0, y0) : m_surface;
            // Candidate triangulations without a new vertex, each kept when its triangles pass the
            // sag test at their centroids and edge midpoints: a fan from a corner whose two edges
            // carry no extra point, or a strip between two opposite edges when only they carry
            // extra points. Otherwise (or when they sag) a fan from the cell centre.
            std::vector<std::array<std::uint32_t, 3>>& tri = m_scratch;
            tri.clear();
            const std::size_t cornerAt[4] = {0, 1 + extra[0], 2 + extra[0] + extra[1],
                                             3 + extra[0] + extra[1] + extra[2]};
            int corner = -1;
            for (int k = 0; k < 4 && corner < 0; ++k)
                if (extra[k] == 0 && extra[(k + 3) % 4] == 0) corner = k;
            if (corner >= 0) {
                const std::size_t o = cornerAt[corner];
                for (std::size_t i = 1; i + 1 < n; ++i)
                    tri.push_back({ring[o], ring[(o + i) % n], ring[(o + i + 1) % n]});
            } else if (extra[0] == 0 && extra[2] == 0) {
                Strip(ring, cornerAt[0], cornerAt[3], cornerAt[1], cornerAt[2], 1, tri);  // left and right chains
            } else if (extra[1] == 0 && extra[3] == 0) {
                Strip(ring, cornerAt[1], cornerAt[0], cornerAt[2], cornerAt[3], 0, tri);  // bottom and top chains
            }
            bool within = !tri.empty();
            for (std::size_t i = 0; i < tri.size() && within; ++i)
                within = FanSag(patch, tri[i][0], tri[i][1], tri[i][2]) <= m_tolerance;
            if (!within && sx >= 2 && sy >= 2) {
                tri.clear();
                const std::uint32_t centre = Vertex(x0 + sx / 2, y0 + sy / 2);
                for (std::size_t i = 0; i < n; ++i) tri.push_back({centre, ring[i], ring[(i + 1) % n]});
                within = true;
                for (std::size_t i = 0; i < tri.size() && within; ++i)
                    within = FanSag(patch, tri[i][0], tri[i][1], tri[i][2]) <= m_tolerance;
            }
            if (!within) failing.push_back(leaf);
            for (const auto& t : tri) AddTriangle(t[0], t[1], t[2]);
        }
        return failing;
    }

    // Triangulation passes: leaves whose triangles sag (a fan over the finer points of their
    // neighbours) are cut and every leaf is triangulated again, at most 32 times.
    void Triangulate(TessellationReport& report) {
        for (int pass = 0;; ++pass) {
            const std::vector<std::size_t> failing = TriangulatePass();
            if (failing.empty() || pass == 32) break;
            // The failing leaves are replaced by their quarters (or halves), refined like the rest.
            std::vector<Cell> cells;
            std::vector<std::size_t> order(failing.rbegin(), failing.rend());
            for (std::size_t i : order) {
                const Cell c = m_leaves[i];
                const std::uint64_t xm = CutAt(c.x0, c.x1), ym = CutAt(c.y0, c.y1);
                if (xm == c.x1 && ym == c.y1) continue;
                cells.push_back({c.x0, xm, c.y0, ym});
                if (xm != c.x1) cells.push_back({xm, c.x1, c.y0, ym});
                if (ym != c.y1) cells.push_back({c.x0, xm, ym, c.y1});
                if (xm != c.x1 && ym != c.y1) cells.push_back({xm, c.x1, ym, c.y1});
                m_leaves[i] = m_leaves.back();  // failing is ascending: later indices go first
                m_leaves.pop_back();
            }
            const std::size_t cut = cells.size();
            if (2 * (m_leaves.size() + cut) > m_o.maxTriangles) {
                report.budgetReached = true;
                for (const Cell& c : cells) m_leaves.push_back(c);
                TriangulatePass();
                break;
            }
            RefineCells(std::move(cells), report);
            if (cut == 0) break;
        }
        Compact();
        report.cells = m_leaves.size();
        report.triangles = m_mesh.triangles.size();
    }

    // Drops the vertices no triangle uses (centres of fans that a later pass replaced).
    void Compact() {
        std::vector<std::uint32_t> newIndex(m_mesh.vertices.size(), UINT32_MAX);
        TriangleMesh out;
        for (auto& t : m_mesh.triangles)
            for (auto& i : t) {
                if (newIndex[i] == UINT32_MAX) {
                    newIndex[i] = static_cast<std::uint32_t>(out.vertices.size());
                    out.vertices.push_back(m_mesh.vertices[i]);
                    out.normals.push_back(m_mesh.normals[i]);
                    out.parameters.push_back(m_mesh.parameters[i]);
                }
                i = newIndex[i];
            }
        out.triangles = std::move(m_mesh.triangles);
        m_mesh = std::move(out);
    }

    const V3dNurbsSurface& m_surface;
    const NURBS::BezierPatchDecomposition& m_d;
    const TessellationOptions& m_o;
    TriangleMesh& m_mesh;
    std::vector<double> m_u0, m_u1, m_v0, m_v1;
    double m_size = 1.0;
    double m_tolerance = 0.0;
    bool m_closedU = false, m_closedV = false;
    std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, std::uint32_t, KeyHash> m_index;
    std::vector<Cell> m_leaves;
    std::vector<std::array<std::uint32_t, 3>> m_scratch;
};

}  // namespace

TessellationReport Tessellate(const V3dNurbsSurface& surface, const TessellationOptions& options, TriangleMesh& mesh) {
    TessellationReport report;
    mesh = TriangleMesh();
    if (!(options.chordTolerance > 0) || !std::isfinite(options.chordTolerance)) {
        report.error = "the chord tolerance must be a positive number";
        return report;
    }
    if (!(options.angleTolerance >= 0) || !std::isfinite(options.angleTolerance)) {
        report.error = "the angle tolerance must be 0 (off) or a positive number of radians";
        return report;
    }
    const NURBS::BezierPatchDecomposition d = NURBS::DecomposeToBezierPatches(surface);
    if (d.status != NURBS::AnalysisStatus::Success || d.patches.empty()) {
        report.error = "the surface cannot be tessellated: it is not valid (see CheckSurface)";
        return report;
    }
    report.patches = d.patches.size();
    Tessellator(surface, d, options, mesh).Run(report);
    report.ok = true;
    return report;
}

double MeasureDeviation(const V3dNurbsSurface& surface, const TriangleMesh& mesh) {
    if (mesh.triangles.empty()) return NAN;
    const double ua = surface.GetMinParamU(), ub = surface.GetMaxParamU();
    const double va = surface.GetMinParamV(), vb = surface.GetMaxParamV();
    double worst = 0.0;
    for (const auto& t : mesh.triangles) {
        const P3 &A = mesh.vertices[t[0]], &B = mesh.vertices[t[1]], &C = mesh.vertices[t[2]];
        const auto &pa = mesh.parameters[t[0]], &pb = mesh.parameters[t[1]], &pc = mesh.parameters[t[2]];
        const double w[4][3] = {{1. / 3, 1. / 3, 1. / 3}, {0.5, 0.5, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}};
        for (const auto& k : w) {
            const P3 P = Lerp3(A, k[0], B, k[1], C, k[2]);
            double u = k[0] * pa[0] + k[1] * pb[0] + k[2] * pc[0];
            double v = k[0] * pa[1] + k[1] * pb[1] + k[2] * pc[1];
            // Newton iterations on (S - P).Su = 0, (S - P).Sv = 0 (The NURBS Book, 6.1).
            double best = INFINITY;
            for (int it = 0; it < 12; ++it) {
                const auto d = surface.DeriveAt(u, v, 2);
                const P3 r = Sub(d(0, 0), P);
                best = std::min(best, Norm(r));
                const P3 &Su = d(1, 0), &Sv = d(0, 1);
                const double f = Dot(r, Su), g = Dot(r, Sv);
                const double a11 = Dot(Su, Su) + Dot(r, d(2, 0)), a12 = Dot(Su, Sv) + Dot(r, d(1, 1)),
                             a22 = Dot(Sv, Sv) + Dot(r, d(0, 2));
                const double det = a11 * a22 - a12 * a12;
                if (!(std::fabs(det) > 0)) break;
                const double du = (-f * a22 + g * a12) / det, dv = (-g * a11 + f * a12) / det;
                const double un = std::min(std::max(u + du, ua), ub), vn = std::min(std::max(v + dv, va), vb);
                const bool settled = std::fabs(un - u) <= 1e-14 * (ub - ua) && std::fabs(vn - v) <= 1e-14 * (vb - va);
                u = un;
                v = vn;
                if (settled) {
                    best = std::min(best, Norm(Sub(surface.EvaluateAt(u, v), P)));
                    break;
                }
            }
            worst = std::max(worst, best);
        }
    }
    return worst;
}

CurvePolyline TessellateCurve(const V3dNurbsCurve& curve, double chordTolerance, double angleTolerance,
                              std::size_t maxPoints) {
    CurvePolyline out;
    if (!curve.IsValid() || curve.GetDegree() == 0 || !(chordTolerance > 0) || !std::isfinite(chordTolerance) ||
        !(angleTolerance >= 0))
        return out;
    const auto& U = curve.GetKnots();
    const std::size_t p = curve.GetDegree(), n = curve.GetControlPoints().size();
    for (std::size_t i = 0; i <= n; ++i)
        if (!std::isfinite(U[i])) return out;
    const double cosLimit = std::cos(angleTolerance);
    auto emit = [&](double t, const P3& x) {
        out.parameters.push_back(t);
        out.points.push_back(x);
    };
    emit(U[p], curve.EvaluateAt(U[p]));
    struct Piece {
        double a, b;
        P3 pa, pb;
        unsigned depth;
    };
    std::vector<Piece> stack;
    std::size_t spansLeft = 0;
    for (std::size_t s = p; s < n; ++s) spansLeft += U[s + 1] > U[s] ? 1 : 0;
    for (std::size_t s = p; s < n; ++s) {
        if (!(U[s + 1] > U[s])) continue;
        --spansLeft;
        stack.push_back({U[s], U[s + 1], out.points.back(), curve.EvaluateAt(U[s + 1]), 0});
        while (!stack.empty()) {
            const Piece c = stack.back();
            stack.pop_back();
            bool flat = true;
            for (double f : {0.25, 0.5, 0.75}) {
                const P3 x = curve.EvaluateAt(c.a + (c.b - c.a) * f);
                const P3 chord = Lerp3(c.pa, 1 - f, c.pb, f, c.pa, 0);
                if (!(Norm(Sub(x, chord)) <= chordTolerance)) flat = false;
            }
            if (flat && angleTolerance > 0) {
                const P3 ta = curve.DeriveAt(c.a, 1)[1], tb = curve.DeriveAt(c.b, 1)[1];
                const double na = Norm(ta), nb = Norm(tb);
                if (na > 0 && nb > 0 && Dot(ta, tb) < cosLimit * na * nb) flat = false;
            }
            if (!flat && c.depth < kLevels && out.points.size() + stack.size() + spansLeft + 2 <= maxPoints) {
                const double m = c.a + (c.b - c.a) * 0.5;
                const P3 pm = curve.EvaluateAt(m);
                stack.push_back({m, c.b, pm, c.pb, c.depth + 1});
                stack.push_back({c.a, m, c.pa, pm, c.depth + 1});
                continue;
            }
            emit(c.b, c.pb);
        }
    }
    return out;
}

}  // namespace Mesh
}  // namespace VelSDK
