// Reversal, reparametrisation, degree elevation, Bezier decomposition and joins of NURBS
// curves (see CurveEditing.h).
#include <VelSDK/CurveEditing.h>

#include "analysis/CurveAccess.h"

#include <algorithm>
#include <cmath>

namespace VelSDK {
namespace NURBS {

using detail::P3;
using detail::P4;

CurveEditResult Reverse(const V3dNurbsCurve& curve) {
    CurveEditResult r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    const auto& P = curve.GetControlPoints();
    const auto& U = curve.GetKnots();
    const std::size_t p = curve.GetDegree();
    const std::size_t n = P.size();
    const double sum = U[p] + U[n];
    std::vector<P4> Q(P.rbegin(), P.rend());
    std::vector<double> V(U.size());
    for (std::size_t i = 0; i < U.size(); ++i) V[i] = sum - U[U.size() - 1 - i];
    // The range ends map onto each other exactly.
    for (std::size_t i = 0; i < V.size(); ++i) {
        if (U[U.size() - 1 - i] == U[n]) V[i] = U[p];
        if (U[U.size() - 1 - i] == U[p]) V[i] = U[n];
    }
    r.curve = V3dNurbsCurve(std::move(Q), std::move(V), p);
    return r;
}

CurveEditResult Reparametrize(const V3dNurbsCurve& curve, double a, double b) {
    CurveEditResult r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    if (!(std::isfinite(a) && std::isfinite(b) && a < b)) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    const auto& U = curve.GetKnots();
    const std::size_t p = curve.GetDegree();
    const std::size_t n = curve.GetControlPoints().size();
    const double u0 = U[p];
    const double u1 = U[n];
    const double scale = (b - a) / (u1 - u0);
    std::vector<double> V(U.size());
    for (std::size_t i = 0; i < U.size(); ++i) {
        if (U[i] == u0)
            V[i] = a;
        else if (U[i] == u1)
            V[i] = b;
        else
            V[i] = a + (U[i] - u0) * scale;
        if (!std::isfinite(V[i]) || (i > 0 && V[i] < V[i - 1])) {
            r.status = AnalysisStatus::InvalidArgument;
            return r;
        }
    }
    r.curve = V3dNurbsCurve(curve.GetControlPoints(), std::move(V), p);
    return r;
}

// Degree elevation of a clamped curve by t (The NURBS Book, A5.9, p. 206): each Bezier
// segment is extracted by knot insertion, elevated with the coefficients
// C(p, j) C(t, i - j) / C(p + t, i), and the inserted knots are removed again from the
// elevated control points. Relies on exactly clamped ends and interior multiplicities <= p.
static void ElevateClamped(const std::vector<P4>& Pw, const std::vector<double>& U, std::size_t p, std::size_t t,
                           std::vector<P4>& Qw, std::vector<double>& Uh) {
    const std::size_t n = Pw.size() - 1;  // the book's n: index of the last control point
    const std::size_t m = n + p + 1;
    const std::size_t ph = p + t;
    const std::size_t ph2 = ph / 2;
    std::size_t distinctInterior = 0;
    for (std::size_t i = p + 1; i <= n; ++i)
        if (U[i] != U[i - 1]) ++distinctInterior;
    Qw.assign(Pw.size() + t * (distinctInterior + 1), P4{});
    Uh.assign(Qw.size() + ph + 1, 0.0);

    std::vector<double> bezalfs((ph + 1) * (p + 1), 0.0);
    auto bez = [&](std::size_t i, std::size_t j) -> double& { return bezalfs[i * (p + 1) + j]; };
    std::vector<P4> bpts(p + 1), ebpts(ph + 1), nextbpts(p > 0 ? p : 1);
    std::vector<double> alfs(p > 0 ? p : 1);

    bez(0, 0) = 1.0;
    bez(ph, p) = 1.0;
    for (std::size_t i = 1; i <= ph2; ++i) {
        const double inv = 1.0 / detail::Binomial(ph, i);
        const std::size_t mpi = std::min(p, i);
        for (std::size_t j = (i > t ? i - t : 0); j <= mpi; ++j)
            bez(i, j) = inv * detail::Binomial(p, j) * detail::Binomial(t, i - j);
    }
    for (std::size_t i = ph2 + 1; i + 1 <= ph; ++i) {
        const std::size_t mpi = std::min(p, i);
        for (std::size_t j = (i > t ? i - t : 0); j <= mpi; ++j) bez(i, j) = bez(ph - i, p - j);
    }

    long long mh = static_cast<long long>(ph);
    long long kind = static_cast<long long>(ph) + 1;
    long long r = -1;
    std::size_t a = p;
    std::size_t b = p + 1;
    long long cind = 1;
    double ua = U[0];
    Qw[0] = Pw[0];
    for (std::size_t i = 0; i <= ph; ++i) Uh[i] = ua;
    for (std::size_t i = 0; i <= p; ++i) bpts[i] = Pw[i];
    const long long pl = static_cast<long long>(p);
    const long long phl = static_cast<long long>(ph);
    while (b < m) {
        const std::size_t i0 = b;
        while (b < m && U[b] == U[b + 1]) ++b;
        const long long mul = static_cast<long long>(b - i0) + 1;
        mh = mh + mul + static_cast<long long>(t);
        const double ub = U[b];
        const long long oldr = r;
        r = pl - mul;
        const long long lbz = oldr > 0 ? (oldr + 2) / 2 : 1;
        const long long rbz = r > 0 ? phl - (r + 1) / 2 : phl;
        if (r > 0) {
            const double numer = ub - ua;
            for (long long k = pl; k > mul; --k) alfs[k - mul - 1] = numer / (U[a + k] - ua);
            for (long long j = 1; j <= r; ++j) {
                const long long save = r - j;
                const long long s = mul + j;
                for (long long k = pl; k >= s; --k) {
                    const double al = alfs[k - s];
                    bpts[k] = al * bpts[k] + (1.0 - al) * bpts[k - 1];
                }
                nextbpts[save] = bpts[p];
            }
        }
        for (long long i = lbz; i <= phl; ++i) {
            P4 e{0.0, 0.0, 0.0, 0.0};
            const long long mpi = std::min(pl, i);
            for (long long j = std::max(0LL, i - static_cast<long long>(t)); j <= mpi; ++j) e = e + bez(i, j) * bpts[j];
            ebpts[i] = e;
        }
        if (oldr > 1) {
            long long first = kind - 2;
            long long last = kind;
            const double den = ub - ua;
            const double bet = (ub - Uh[kind - 1]) / den;
            for (long long tr = 1; tr < oldr; ++tr) {
                long long i = first;
                long long j = last;
                long long kj = j - kind + 1;
                while (j - i > tr) {
                    if (i < cind) {
                        const double alf = (ub - Uh[i]) / (ua - Uh[i]);
                        Qw[i] = alf * Qw[i] + (1.0 - alf) * Qw[i - 1];
                    }
                    if (j >= lbz) {
                        if (j - tr <= kind - phl + oldr) {
                            const double gam = (ub - Uh[j - tr]) / den;
                            ebpts[kj] = gam * ebpts[kj] + (1.0 - gam) * ebpts[kj + 1];
                        } else {
                            ebpts[kj] = bet * ebpts[kj] + (1.0 - bet) * ebpts[kj + 1];
                        }
                    }
                    ++i;
                    --j;
                    --kj;
                }
                --first;
                ++last;
            }
        }
        if (a != p)
            for (long long i = 0; i < phl - oldr; ++i) Uh[kind++] = ua;
        for (long long j = lbz; j <= rbz; ++j) Qw[cind++] = ebpts[j];
        if (b < m) {
            for (long long j = 0; j < r; ++j) bpts[j] = nextbpts[j];
            for (long long j = r; j <= pl; ++j) bpts[j] = Pw[b - p + j];
            a = b;
            ++b;
            ua = ub;
        } else {
            for (std::size_t i = 0; i <= ph; ++i) Uh[kind + i] = ub;
        }
    }
    const std::size_t nh = static_cast<std::size_t>(mh - phl - 1);
    Qw.resize(nh + 1);
    Uh.resize(nh + ph + 2);
}

CurveEditResult ElevateDegree(const V3dNurbsCurve& curve, int t) {
    CurveEditResult r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    const std::size_t p = curve.GetDegree();
    if (t < 0 || p + static_cast<std::size_t>(t) > kMaxElevatedDegree) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    V3dNurbsCurve c;
    if (detail::MaxInteriorMultiplicity(curve) > p || !detail::ClampedCopy(curve, c)) {
        r.status = AnalysisStatus::InvalidGeometry;
        return r;
    }
    if (t == 0) {
        r.curve = std::move(c);
        return r;
    }
    std::vector<P4> Q;
    std::vector<double> V;
    ElevateClamped(c.GetControlPoints(), c.GetKnots(), p, static_cast<std::size_t>(t), Q, V);
    r.curve = V3dNurbsCurve(std::move(Q), std::move(V), p + static_cast<std::size_t>(t));
    return r;
}

std::size_t CountSpans(const V3dNurbsCurve& curve) {
    if (CheckCurve(curve) != AnalysisStatus::Success) return 0;
    const auto& U = curve.GetKnots();
    const std::size_t p = curve.GetDegree();
    const std::size_t n = curve.GetControlPoints().size();
    std::size_t spans = 0;
    for (std::size_t i = p; i < n; ++i)
        if (U[i] < U[i + 1]) ++spans;
    return spans;
}

// Bezier decomposition of a clamped curve (The NURBS Book, A5.6, p. 173): for each span the
// end knot is inserted until its multiplicity is p; the points of the next segment that the
// insertion produces are saved on the way. An interior multiplicity of p + 1 (a break) needs
// no insertion and starts the next segment at the first point after the break.
std::size_t DecomposeToBezierInto(const V3dNurbsCurve& clamped, P4* out, double* breaks) {
    const auto& Pw = clamped.GetControlPoints();
    const auto& U = clamped.GetKnots();
    const std::size_t p = clamped.GetDegree();
    const std::size_t m = Pw.size() + p;  // the book's m: index of the last knot
    // The first segment starts at the last knot of the run holding U[p]: a start run longer
    // than p + 1 leaves empty spans at the start of the range (U[p] < U[n] ends the scan).
    std::size_t a = p;
    while (U[a + 1] == U[a]) ++a;
    std::size_t b = a + 1;
    std::size_t nb = 0;
    double alphas[kMaxElevatedDegree + 2];
    std::vector<double> heapAlphas;
    double* al = alphas;
    if (p > kMaxElevatedDegree + 1) {
        heapAlphas.resize(p);
        al = heapAlphas.data();
    }
    for (std::size_t i = 0; i <= p; ++i) out[i] = Pw[a - p + i];
    breaks[0] = U[p];
    while (b < m) {
        const std::size_t i0 = b;
        while (b < m && U[b + 1] == U[b]) ++b;
        const std::size_t mult = b - i0 + 1;
        P4* seg = out + nb * (p + 1);
        if (mult < p) {
            const double numer = U[b] - U[a];
            for (std::size_t j = p; j > mult; --j) al[j - mult - 1] = numer / (U[a + j] - U[a]);
            const std::size_t r = p - mult;
            for (std::size_t j = 1; j <= r; ++j) {
                const std::size_t save = r - j;
                const std::size_t s = mult + j;
                for (std::size_t k = p; k >= s; --k) {
                    const double alpha = al[k - s];
                    seg[k] = alpha * seg[k] + (1.0 - alpha) * seg[k - 1];
                }
                if (b < m) seg[p + 1 + save] = seg[p];
            }
        }
        breaks[nb + 1] = U[b];
        ++nb;
        if (b < m) {
            P4* next = out + nb * (p + 1);
            for (std::size_t i = (mult < p ? p - mult : 0); i <= p; ++i) next[i] = Pw[b - p + i];
            a = b;
            ++b;
        }
    }
    return nb;
}

BezierDecomposition DecomposeToBezier(const V3dNurbsCurve& curve) {
    BezierDecomposition r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    V3dNurbsCurve c;
    if (!detail::ClampedCopy(curve, c)) {
        r.status = AnalysisStatus::InvalidGeometry;
        return r;
    }
    const std::size_t p = c.GetDegree();
    const std::size_t spans = CountSpans(c);
    std::vector<P4> points(spans * (p + 1));
    std::vector<double> breaks(spans + 1);
    const std::size_t nb = DecomposeToBezierInto(c, points.data(), breaks.data());
    r.pieces.resize(nb);
    for (std::size_t k = 0; k < nb; ++k) {
        BezierPiece& piece = r.pieces[k];
        piece.u0 = breaks[k];
        piece.u1 = breaks[k + 1];
        std::vector<double> knots(2 * (p + 1), piece.u0);
        std::fill(knots.begin() + static_cast<std::ptrdiff_t>(p + 1), knots.end(), piece.u1);
        piece.curve = V3dNurbsCurve(std::vector<P4>(points.begin() + static_cast<std::ptrdiff_t>(k * (p + 1)),
                                                    points.begin() + static_cast<std::ptrdiff_t>((k + 1) * (p + 1))),
                                    std::move(knots), p);
    }
    return r;
}

JoinResult Join(const V3dNurbsCurve& first, const V3dNurbsCurve& second, double gapTolerance, double angularTolerance) {
    JoinResult r;
    if (CheckCurve(first) != AnalysisStatus::Success || CheckCurve(second) != AnalysisStatus::Success) return r;
    if (!(gapTolerance >= 0.0) || !(angularTolerance >= 0.0)) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    const std::size_t p = std::max(first.GetDegree(), second.GetDegree());
    CurveEditResult a = ElevateDegree(first, static_cast<int>(p - first.GetDegree()));
    CurveEditResult b = ElevateDegree(second, static_cast<int>(p - second.GetDegree()));
    if (a.status != AnalysisStatus::Success || b.status != AnalysisStatus::Success) {
        r.status = a.status != AnalysisStatus::Success ? a.status : b.status;
        return r;
    }
    const auto& A = a.curve.GetControlPoints();
    const auto& UA = a.curve.GetKnots();
    const double a1 = UA.back();
    const double b0 = b.curve.GetKnots().front();
    const double b1 = b.curve.GetKnots().back();
    const auto da = a.curve.DeriveAt(a1, 1);
    const auto db = b.curve.DeriveAt(b0, 1);
    r.gap = Math::Distance(da[0], db[0]);
    const double la = Math::ScaledLength(da[1]);
    const double lb = Math::ScaledLength(db[1]);
    if (la > 0.0 && lb > 0.0) {
        const double c = Math::Dot(da[1], db[1]) / (la * lb);
        const P3 x{da[1][1] * db[1][2] - da[1][2] * db[1][1], da[1][2] * db[1][0] - da[1][0] * db[1][2],
                   da[1][0] * db[1][1] - da[1][1] * db[1][0]};
        r.tangentAngle = std::atan2(Math::ScaledLength(x) / (la * lb), c);
    } else {
        r.tangentAngle = std::numeric_limits<double>::quiet_NaN();
    }
    r.g1 = r.tangentAngle <= angularTolerance;
    if (!(r.gap <= gapTolerance)) {
        r.status = AnalysisStatus::Gap;
        return r;
    }
    // Parameter length of the second piece so that both speeds agree at the join: the
    // derivative scales by (b1 - b0) / L.
    double L = b1 - b0;
    if (la > 0.0 && lb > 0.0) {
        const double scaled = (b1 - b0) * lb / la;
        if (std::isfinite(scaled) && scaled > 0.0 && std::isfinite(a1 + scaled) && a1 + scaled > a1) L = scaled;
    }
    const CurveEditResult bb = Reparametrize(b.curve, a1, a1 + L);
    if (bb.status != AnalysisStatus::Success) {
        r.status = bb.status;
        return r;
    }
    const auto& B = bb.curve.GetControlPoints();
    const auto& UB = bb.curve.GetKnots();
    const double wScale = A.back()[3] / B.front()[3];
    std::vector<P4> Q(A.begin(), A.end());
    const P3 mid = Math::Lerp(da[0], db[0], 0.5);
    const double wj = A.back()[3];
    Q.back() = P4{mid[0] * wj, mid[1] * wj, mid[2] * wj, wj};
    for (std::size_t i = 1; i < B.size(); ++i) Q.push_back(wScale * B[i]);
    std::vector<double> V(UA.begin(), UA.end() - 1);  // drop one copy of the join knot
    V.insert(V.end(), UB.begin() + static_cast<std::ptrdiff_t>(p + 1), UB.end());
    r.curve = V3dNurbsCurve(std::move(Q), std::move(V), p);
    r.status = AnalysisStatus::Success;
    return r;
}

}  // namespace NURBS
}  // namespace VelSDK
