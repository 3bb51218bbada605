#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "math/matrix.h"
#include "math/principal_axes.h"
#include "math/principal_axes_steps.h"
#include "pose/rotation_angles.h"

namespace {

Matrix* randomMatrix(std::mt19937& rng, int rows, int cols, double range = 1.0) {
    std::uniform_real_distribution<double> dist(-range, range);
    Matrix* m = arMatrixCreate(rows, cols);
    std::generate(m->data, m->data + rows * cols, [&] { return dist(rng); });
    return m;
}

void destroy(std::initializer_list<Matrix*> matrices, std::initializer_list<Vector*> vectors) {
    std::for_each(matrices.begin(), matrices.end(), arMatrixDestroy);
    std::for_each(vectors.begin(), vectors.end(), arVectorDestroy);
}

// Largest deviation of a * inverse(a) from the identity, or -1 when the
// inversion fails; destroys `a`.
double productWithInverseError(Matrix* a) {
    const int n = a->rows;
    Matrix *inv = arMatrixClone(a), *product = arMatrixCreate(n, n);
    double error = arMatrixInvertInPlace(inv) || arMatrixMultiply(product, a, inv) ? -1.0 : 0.0;
    for (int i = 0; i < n * n && error >= 0.0; i++) {
        error = std::fmax(error, std::fabs(product->data[i] - (i % (n + 1) == 0)));
    }
    destroy({a, inv, product}, {});
    return error;
}

// Rows v of `vectors`: A v = lambda v (as v^T A, A symmetric) to `residual`,
// unit to `unit`, orthogonal to `orthogonal`; the values descend.
void expectEigenpairs(const Matrix* a, const Matrix* vectors, const Vector* values, double residual,
                      double unit, double orthogonal) {
    const int m = vectors->rows, n = a->rows;
    Matrix *va = arMatrixCreate(m, n), *gram = arMatrixCreate(m, m);
    ASSERT_EQ(arMatrixMultiply(va, vectors, a), 0);
    ASSERT_EQ(arMatrixRowProducts(vectors, gram), 0);
    for (int i = 0; i < m * n; i++) {
        EXPECT_NEAR(va->data[i], values->data[i / n] * vectors->data[i], residual) << i;
    }
    for (int i = 0; i < m * m; i++) {
        EXPECT_NEAR(gram->data[i], i % (m + 1) == 0, i % (m + 1) == 0 ? unit : orthogonal) << i;
    }
    EXPECT_TRUE(std::is_sorted(values->data, values->data + m, std::greater<>()));
    destroy({va, gram}, {});
}

}  // namespace

// Random matrices up to the largest size, and Hilbert matrices (condition up to 5e8).
TEST(GaussJordan, WellAndIllConditionedMatricesTimesInverseGiveIdentity) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 300; trial++) {
        const int n = trial == 0 ? GAUSS_JORDAN_MAX : 1 + trial % 8;
        const double error = productWithInverseError(randomMatrix(rng, n, n, 10.0));
        if (error >= 0.0) {  // a random matrix is singular only by chance
            EXPECT_LT(error, 1e-8) << "n = " << n << ", trial " << trial;
        }
    }
    for (int n = 2; n <= 7; n++) {
        Matrix* h = arMatrixCreate(n, n);
        for (int i = 0; i < n * n; i++) {
            h->data[i] = 1.0 / (i / n + i % n + 1);
        }
        const double error = productWithInverseError(h);
        EXPECT_TRUE(error >= 0.0 && error < 1e-6) << "n = " << n << ": " << error;
    }
}

// A pivot at or below the floor fails, also at a later step; equal candidates take
// the first row (the last leaves 0.6 one ulp off); larger sizes are refused untouched.
TEST(GaussJordan, PivotRuleFloorAndSizeLimit) {
    for (double pivot : {PIVOT_FLOOR, -PIVOT_FLOOR, 0.0, std::nextafter(PIVOT_FLOOR, 1.0)}) {
        double m[9] = {pivot, 0, 0, 0, 1, 0, 0, 0, 1};
        Matrix view{m, 3, 3};
        EXPECT_EQ(arMatrixInvertInPlace(&view), pivot > PIVOT_FLOOR ? 0 : -1) << pivot;
    }
    double zeroColumn[9] = {1, 0, 2, 3, 0, 4, 5, 0, 6}, tied[4] = {1, 2, -1, 3};
    EXPECT_EQ(arGaussJordanInvert(zeroColumn, 3, 3), nullptr);
    ASSERT_EQ(arGaussJordanInvert(tied, 2, 2), tied);
    EXPECT_EQ(std::vector<double>(tied, tied + 4), (std::vector<double>{0.6, -0.4, 0.2, 0.2}));
    const int big = GAUSS_JORDAN_MAX + 1;
    std::vector<double> tooBig(big * big, 2.0), before = tooBig;
    Matrix bigMatrix{tooBig.data(), big, big};
    EXPECT_EQ(arGaussJordanInvert(tooBig.data(), big, big), nullptr);
    EXPECT_EQ(arMatrixInvertInPlace(&bigMatrix), -1);
    EXPECT_EQ(tooBig, before);
}

TEST(PoseInvert, GivesTransposedRotationAndMinusRTransposeTAlsoInPlace) {
    std::mt19937 rng(6);
    std::uniform_real_distribution<double> angle(-4.0, 4.0), offset(-500.0, 500.0);
    for (int trial = 0; trial < 200; trial++) {
        double r[3][3], pose[3][4], inverse[3][4], inPlace[3][4];
        arAnglesToRotation(angle(rng), angle(rng), angle(rng), r);
        for (int i = 0; i < 12; i++) {
            pose[i / 4][i % 4] = inPlace[i / 4][i % 4] = i % 4 < 3 ? r[i / 4][i % 4] : offset(rng);
        }
        ASSERT_EQ(arPoseInvert(pose, inverse), 0);
        ASSERT_EQ(arPoseInvert(inPlace, inPlace), 0);
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                EXPECT_NEAR(inverse[i][j], r[j][i], 1e-12);
            }
            const double t = r[0][i] * pose[0][3] + r[1][i] * pose[1][3] + r[2][i] * pose[2][3];
            EXPECT_NEAR(inverse[i][3], -t, 1e-9);
            EXPECT_TRUE(std::equal(inverse[i], inverse[i] + 4, inPlace[i]));  // the same bits
        }
    }
}

// Sums in index order; different lengths give NaN, whichever is the shorter.
TEST(VectorDot, SumsInIndexOrderAndGivesNaNForDifferentLengths) {
    double x[4] = {1e16, 1.0, -1e16, 1.0}, ones[4] = {1, 1, 1, 1};
    Vector a{x, 4}, b{ones, 4}, shorter{ones, 3}, empty{ones, 0};
    EXPECT_EQ(arVectorDot(&a, &b), 1.0);  // (((1e16 + 1) - 1e16) + 1)
    EXPECT_EQ(arVectorDot(&empty, &empty), 0.0);
    EXPECT_TRUE(std::isnan(arVectorDot(&a, &shorter)));
    EXPECT_TRUE(std::isnan(arVectorDot(&shorter, &a)));
}

// Sums of random outer products with alternating signs, some of rank below n;
// the part below the diagonal is never read. Off-diagonal elements count as zero
// below 1e-6 of the diagonal, which bounds the accuracy.
TEST(SymmetricEigen, RandomSymmetricMatricesGiveOrthonormalEigenvectorsInDescendingOrder) {
    std::mt19937 rng(13);
    for (int trial = 0; trial < 400; trial++) {
        const int n = 2 + trial % 7, rank = (trial / 7) % 3 == 0 ? 1 + trial % n : n;
        Matrix *b = randomMatrix(rng, rank, n), *a = arMatrixCreate(n, n),
               *v = arMatrixCreate(n, n);
        for (int i = 0; i < n * n; i++) {
            a->data[i] = 0.0;
            for (int k = 0; k < rank; k++) {
                a->data[i] +=
                    (k % 2 ? -1.0 : 1.0) * b->data[k * n + i / n] * b->data[k * n + i % n];
            }
            v->data[i] = i % n < i / n ? 1e300 : a->data[i];
        }
        Vector* values = arVectorCreate(n);
        ASSERT_EQ(arSymmetricEigen(v, values), 0);
        const double scale = std::fmax(std::fabs(values->data[0]), std::fabs(values->data[n - 1]));
        expectEigenpairs(a, v, values, 1e-5 * scale, 1e-12, 1e-12);
        destroy({a, b, v}, {values});
    }
}

// An off-diagonal element that is not definitely above the tolerance (here NaN)
// ends the block: no sweep runs, and the diagonal stands as the eigenvalues.
TEST(SymmetricEigen, UndecidableOffDiagonalSplitsTheBlock) {
    double data[4] = {1.0, NAN, NAN, 3.0};
    Matrix a{data, 2, 2};
    Vector* values = arVectorCreate(2);
    ASSERT_EQ(arSymmetricEigen(&a, values), 0);
    EXPECT_EQ(values->data[0], 3.0);
    EXPECT_EQ(values->data[1], 1.0);
    EXPECT_EQ(std::vector<double>(data, data + 4), (std::vector<double>{0.0, 1.0, 1.0, 0.0}));
    arVectorDestroy(values);
}

// Through x x^T: unit axes to rounding, orthogonal as far as the QR tolerance
// allows. Eigenvalues below the floor, and all after them, give zero rows.
TEST(EigenAxes, FewerRowsThanColumnsGiveUnitAxesAndFlooredEigenvaluesZeroRows) {
    std::mt19937 rng(16);
    for (int trial = 0; trial < 200; trial++) {
        const int r = 2 + trial % 3, c = r + 1 + trial % 4;
        Matrix *x = randomMatrix(rng, r, c), *evec = arMatrixCreate(r, c),
               *xtx = arMatrixCreate(c, c);
        Vector* ev = arVectorCreate(r);
        ASSERT_EQ(arEigenAxes(x, evec, ev), 0);
        ASSERT_EQ(arMatrixColumnProducts(x, xtx), 0);
        expectEigenpairs(xtx, evec, ev, 1e-5 * ev->data[0], 1e-12, 1e-4);
        destroy({x, evec, xtx}, {ev});
    }
    Matrix *x = randomMatrix(rng, 3, 5), *u = randomMatrix(rng, 3, 3), *evec = arMatrixCreate(3, 5);
    Vector* ev = arVectorCreate(3);
    const double cases[3][3] = {{2.0, 1e-17, 5.0}, {2.0, -1e-20, 1.0}, {EIGEN_VALUE_FLOOR, 0.5, 0}};
    for (int c = 0; c < 3; c++) {
        const int kept = c < 2 ? 1 : 2;
        std::copy(cases[c], cases[c] + 3, ev->data);
        ASSERT_EQ(arLiftEigenvectors(x, u, evec, ev), 0);
        for (int i = 0; i < 3; i++) {
            const double* row = evec->data + 5 * i;
            EXPECT_EQ(ev->data[i], i < kept ? cases[c][i] : 0.0) << "case " << c << " row " << i;
            EXPECT_EQ(std::any_of(row, row + 5, [](double v) { return v != 0.0; }), i < kept);
        }
    }
    destroy({x, u, evec}, {ev});
}

// Two or more points on y = 2x + 1: the line's direction with all the variance,
// and the centroid. One point (results left alone) or coincident points fail.
TEST(PrincipalAxes, PointsOnALineGiveItsDirectionAndCoincidentPointsFail) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> xs(-100.0, 100.0);
    double results[8], xy[2 * 61];  // results: the axes, their shares of the variance, the mean
    Matrix evec{results, 2, 2};
    Vector ev{results + 4, 2}, mean{results + 6, 2};
    for (int trial = 0; trial < 200; trial++) {
        const int count = 2 + trial % 60;
        Matrix points{xy, count, 2};
        double sumX = 0.0;
        for (int i = 0; i < count; i++) {
            sumX += xy[2 * i] = xs(rng);
            xy[2 * i + 1] = 2.0 * xy[2 * i] + 1.0;
        }
        ASSERT_EQ(arMatrixPrincipalAxes(&points, &evec, &ev, &mean), 0) << "trial " << trial;
        const double sign = evec.data[0] < 0.0 ? -1.0 : 1.0, meanX = sumX / count;
        EXPECT_NEAR(sign * evec.data[0], 1.0 / std::sqrt(5.0), 1e-9);
        EXPECT_NEAR(sign * evec.data[1], 2.0 / std::sqrt(5.0), 1e-9);
        EXPECT_TRUE(std::fabs(ev.data[1]) < 1e-12 && ev.data[0] + ev.data[1] == 1.0) << trial;
        EXPECT_NEAR(mean.data[0], meanX, 1e-12);
        EXPECT_NEAR(mean.data[1], 2.0 * meanX + 1.0, 1e-12);
    }
    std::fill(results, results + 8, 42.0);
    for (int i = 0; i < 80; i++) {
        xy[i] = i % 2 == 0 ? 12.5 : -3.25;
    }
    for (int count : {1, 2, 3, 40}) {
        Matrix same{xy, count, 2};
        EXPECT_EQ(arMatrixPrincipalAxes(&same, &evec, &ev, &mean), -1) << count << " points";
        EXPECT_TRUE(count > 1 || std::count(results, results + 8, 42.0) == 8);
    }
}
