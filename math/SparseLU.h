// SparseLU: LU factorisation with scaled partial pivoting of a SparseMatrix, computed once and
// used for any number of right-hand sides; SolveLinearSystem, the one-call form. Internal
// (not exported).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "math/ScratchVector.h"
#include "math/SparseMatrix.h"

namespace VelSDK {
namespace Math {

/// LU decomposition with scaled partial pivoting (Doolittle, multipliers stored in place of
/// the eliminated coefficients) of the first n rows and columns of a SparseMatrix, and
/// forward and back substitution for blocks of right-hand sides.
///
/// Results are the bits of the textbook elimination that visits every coefficient position
/// (tests/support/LiteralSolver is the reference), also for infinite and NaN values (where
/// 0.0 times them is NaN): a non-finite multiplier updates every column of its row, and once
/// a right-hand side (solution value) is not finite the substitutions visit every position.
/// Scale of a row: the largest |value| among its first bandwidth + 1 entries with
/// |value| > 0, in stored order. A pivot fails when its largest |A(r, k) / scale(r)| is not
/// above DBL_EPSILON; the last pivot is tested like the others. Store rule: a multiplier or
/// update below DBL_EPSILON in magnitude is not stored (the coefficient keeps its value).
///
/// The right-hand-side columns are independent: solving columns together or block by block
/// gives the same bits.
class SparseLU {
public:
    SparseLU() = default;

    /// Factorises the first n rows of A (columns n and beyond are ignored); the object keeps
    /// the factors. Returns false, keeping no factorisation, for n = 0, a matrix of fewer
    /// than n rows and a failing pivot.
    bool Compute(SparseMatrix A, std::size_t n);

    /// Compute and Solve(B, k, stride) in one pass: each row's forward substitution runs when
    /// the row becomes a pivot, while it is in cache (the same operations on every value).
    /// With B = nullptr it is Compute. A failing pivot (or stride < k) returns false, and B
    /// may then hold partly substituted values.
    bool ComputeAndSolve(SparseMatrix A, std::size_t n, double* B, std::size_t k, std::size_t stride);

    /// Whether the last Compute succeeded.
    bool Ok() const { return m_ok; }
    std::size_t Size() const { return m_n; }

    /// Solves A X = B for k right-hand sides: row i of B holds k values at B + i * stride
    /// (stride >= k), overwritten with X (row i = unknown i); values between k and stride are
    /// not touched. Returns false, touching nothing, without a successful factorisation or
    /// with stride < k. Const: several solves may run at once.
    bool Solve(double* B, std::size_t k, std::size_t stride) const;

    /// The factors (rows sorted by column: multipliers left of the pivot column, U from it),
    /// handed back; the object is empty afterwards.
    SparseMatrix TakeFactors();

private:
    template <typename Index>
    class Factorisation;
    template <typename Index>
    class Substitution;
    template <typename Index>
    bool Factorise(ScratchVector<Index>& perm, double* B, std::size_t k, std::size_t stride);

    SparseMatrix m_A{0, 0, 0};
    std::size_t m_n = 0;
    bool m_ok = false;
    // Position -> row of the pivots: 32 bits whenever n allows (half the memory of large
    // systems), else the full width.
    ScratchVector<std::uint32_t> m_perm32;
    ScratchVector<std::size_t> m_perm64;
};

/// Solves A X = B in one call (SparseLU::ComputeAndSolve): factorises the first n rows of A
/// and solves for the k right-hand sides at B + i * stride (stride >= k). On success returns
/// true and overwrites them with X (row i = unknown i); on failure returns false, and they may
/// hold partly substituted values (solve a copy when they are needed). Values between k and
/// stride are not touched. A is consumed: it holds the factors afterwards (when the
/// factorisation failed, the partly eliminated rows).
bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k, std::size_t stride);

/// The same with the right-hand-side rows packed (stride = k).
inline bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k) {
    return SolveLinearSystem(A, B, n, k, k);
}

/// The same for right-hand sides held as one vector per row (k = length of the first row).
/// On success B is replaced by the solution rows; on failure B is left unchanged. Returns
/// false for n = 0, for a matrix of fewer than n rows and for right-hand-side rows shorter
/// than the first.
bool SolveLinearSystem(SparseMatrix& A, std::vector<std::vector<double>>& B);

}  // namespace Math
}  // namespace VelSDK
