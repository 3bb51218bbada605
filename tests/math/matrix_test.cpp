#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "math/matrix.h"
#include "math/principal_axes.h"
#include "math/principal_axes_steps.h"

namespace {

constexpr MathStatus OK = MathStatus::Ok, BAD_SHAPE = MathStatus::BadShape,
                     SINGULAR = MathStatus::Singular;

// A matrix over an array of its own.
struct Owned {
    std::vector<double> values;
    Matrix m;
    Owned(int rows, int cols) : values(rows * cols), m{values.data(), rows, cols} {}
    Owned(const Owned& other)
        : values(other.values), m{values.data(), other.m.rows, other.m.cols} {}
};

Owned randomMatrix(std::mt19937& rng, int rows, int cols, double range = 1.0) {
    std::uniform_real_distribution<double> dist(-range, range);
    Owned a(rows, cols);
    std::generate(a.values.begin(), a.values.end(), [&] { return dist(rng); });
    return a;
}

// Rows v of `vectors`: A v = lambda v (as v^T A, A symmetric) to `residual`,
// unit to `unit`, orthogonal to `orthogonal`; the values descend.
void expectEigenpairs(const Matrix& a, const Matrix& vectors, const Vector& values, double residual,
                      double unit, double orthogonal) {
    const int m = vectors.rows, n = a.rows;
    Owned va(m, n), gram(m, m);
    ASSERT_EQ(arMatrixMultiply(&va.m, &vectors, &a), OK);
    ASSERT_EQ(arMatrixRowProducts(&vectors, &gram.m), OK);
    for (int i = 0; i < m * n; i++)
        EXPECT_NEAR(va.values[i], values.data[i / n] * vectors.data[i], residual) << i;
    for (int i = 0; i < m * m; i++)
        EXPECT_NEAR(gram.values[i], i % (m + 1) == 0, i % (m + 1) == 0 ? unit : orthogonal) << i;
    EXPECT_TRUE(std::is_sorted(values.data, values.data + m, std::greater<>()));
}

}  // namespace

// A pivot at or below the floor fails, also at a later step; equal candidates
// take the first row (the last leaves 0.6 one ulp off); larger sizes are
// refused untouched.
TEST(GaussJordan, PivotRuleFloorAndSizeLimit) {
    for (double pivot : {PIVOT_FLOOR, -PIVOT_FLOOR, 0.0, std::nextafter(PIVOT_FLOOR, 1.0)}) {
        double m[9] = {pivot, 0, 0, 0, 1, 0, 0, 0, 1};
        Matrix view{m, 3, 3};
        EXPECT_EQ(arMatrixInvertInPlace(&view), pivot > PIVOT_FLOOR ? OK : SINGULAR) << pivot;
    }
    double zeroColumn[9] = {1, 0, 2, 3, 0, 4, 5, 0, 6}, tied[4] = {1, 2, -1, 3};
    EXPECT_EQ(arGaussJordanInvert(zeroColumn, 3, 3), SINGULAR);
    ASSERT_EQ(arGaussJordanInvert(tied, 2, 2), OK);
    EXPECT_EQ(std::vector<double>(tied, tied + 4), (std::vector<double>{0.6, -0.4, 0.2, 0.2}));
    const int big = GAUSS_JORDAN_MAX + 1;
    std::vector<double> tooBig(big * big, 2.0), before = tooBig;
    EXPECT_EQ(arGaussJordanInvert(tooBig.data(), big, big), BAD_SHAPE);
    EXPECT_EQ(tooBig, before);
}

// Sums of random outer products with alternating signs, some of rank below
// n; the part below the diagonal is never read. Off-diagonal elements count as
// zero below 1e-6 of the diagonal, which bounds the accuracy. An off-diagonal
// element that is not definitely above the tolerance (NaN) ends the block: no
// sweep runs, and the diagonal stands as the eigenvalues.
TEST(SymmetricEigen, RandomSymmetricMatricesGiveOrthonormalEigenvectorsInDescendingOrder) {
    std::mt19937 rng(13);
    double workData[8], valueData[8];
    for (int trial = 0; trial < 400; trial++) {
        const int n = 2 + trial % 7, rank = (trial / 7) % 3 == 0 ? 1 + trial % n : n;
        Owned b = randomMatrix(rng, rank, n), a(n, n), v(n, n);
        for (int i = 0; i < n * n; i++) {
            for (int k = 0; k < rank; k++)
                a.values[i] +=
                    (k % 2 ? -1.0 : 1.0) * b.values[k * n + i / n] * b.values[k * n + i % n];
            v.values[i] = i % n < i / n ? 1e300 : a.values[i];
        }
        Vector values{valueData, n}, work{workData, n};
        ASSERT_EQ(arSymmetricEigen(&v.m, &values, &work), OK);
        const double scale = std::fmax(std::fabs(valueData[0]), std::fabs(valueData[n - 1]));
        expectEigenpairs(a.m, v.m, values, 1e-5 * scale, 1e-12, 1e-12);
    }
    double data[4] = {1.0, NAN, NAN, 3.0};
    Matrix a{data, 2, 2};
    Vector values{valueData, 2}, shortWork{workData, 1};
    EXPECT_EQ(arSymmetricEigen(&a, &values, &shortWork), BAD_SHAPE);
    Vector work{workData, 2};
    ASSERT_EQ(arSymmetricEigen(&a, &values, &work), OK);
    EXPECT_EQ(std::vector<double>(valueData, valueData + 2), (std::vector<double>{3.0, 1.0}));
    EXPECT_EQ(std::vector<double>(data, data + 4), (std::vector<double>{0.0, 1.0, 1.0, 0.0}));
}

// Through x x^T: unit axes to rounding, orthogonal as far as the QR tolerance
// allows. Eigenvalues below the floor, and all after them, give zero rows.
TEST(EigenAxes, FewerRowsThanColumnsGiveUnitAxesAndFlooredEigenvaluesZeroRows) {
    std::mt19937 rng(16);
    double workData[4], evData[4];
    for (int trial = 0; trial < 40; trial++) {
        const int r = 2 + trial % 3, c = r + 1 + trial % 4;
        Owned x = randomMatrix(rng, r, c), evec(r, c), xtx(c, c), products(r, r);
        Vector ev{evData, r}, work{workData, r};
        ASSERT_EQ(arEigenAxes(&x.m, &evec.m, &ev, &products.m, &work), OK);
        ASSERT_EQ(arMatrixColumnProducts(&x.m, &xtx.m), OK);
        expectEigenpairs(xtx.m, evec.m, ev, 1e-5 * evData[0], 1e-12, 1e-4);
    }
    Owned x = randomMatrix(rng, 3, 5), u = randomMatrix(rng, 3, 3), evec(3, 5);
    Vector ev{evData, 3};
    const double cases[3][3] = {{2.0, 1e-17, 5.0}, {2.0, -1e-20, 1.0}, {EIGEN_VALUE_FLOOR, 0.5, 0}};
    for (int c = 0; c < 3; c++) {
        const int kept = c < 2 ? 1 : 2;
        std::copy(cases[c], cases[c] + 3, evData);
        ASSERT_EQ(arLiftEigenvectors(&x.m, &u.m, &evec.m, &ev), OK);
        for (int i = 0; i < 3; i++) {
            const double* row = evec.values.data() + 5 * i;
            EXPECT_EQ(evData[i], i < kept ? cases[c][i] : 0.0) << "case " << c << " row " << i;
            EXPECT_EQ(std::any_of(row, row + 5, [](double v) { return v != 0.0; }), i < kept);
        }
    }
}

// Two or more points on y = 2x + 1: the line's direction with all the
// variance, and the centroid. One point (results left alone), coincident
// points and a scratch one double short fail.
TEST(PrincipalAxes, PointsOnALineGiveItsDirectionAndCoincidentPointsFail) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> xs(-100.0, 100.0);
    double results[8], xy[2 * 61], scratchData[2 * 61 + 6];
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
        const int length = static_cast<int>(arPrincipalAxesScratchLength(count, 2));
        ASSERT_EQ(length, 2 * count + 6);
        EXPECT_EQ(arMatrixPrincipalAxes(&points, &evec, &ev, &mean, {scratchData, length - 1}),
                  BAD_SHAPE);
        ASSERT_EQ(arMatrixPrincipalAxes(&points, &evec, &ev, &mean, {scratchData, length}), OK);
        const double sign = evec.data[0] < 0.0 ? -1.0 : 1.0, meanX = sumX / count;
        EXPECT_NEAR(sign * evec.data[0], 1.0 / std::sqrt(5.0), 1e-9);
        EXPECT_NEAR(sign * evec.data[1], 2.0 / std::sqrt(5.0), 1e-9);
        EXPECT_TRUE(std::fabs(ev.data[1]) < 1e-12 && ev.data[0] + ev.data[1] == 1.0) << trial;
        EXPECT_NEAR(mean.data[0], meanX, 1e-12);
        EXPECT_NEAR(mean.data[1], 2.0 * meanX + 1.0, 1e-12);
    }
    std::fill(results, results + 8, 42.0);
    for (int i = 0; i < 80; i++)
        xy[i] = i % 2 == 0 ? 12.5 : -3.25;
    for (int count : {1, 2, 3, 40}) {
        Matrix same{xy, count, 2};
        EXPECT_EQ(arMatrixPrincipalAxes(&same, &evec, &ev, &mean, {scratchData, 2 * 61 + 6}),
                  count > 1 ? SINGULAR : BAD_SHAPE);
        EXPECT_TRUE(count > 1 || std::count(results, results + 8, 42.0) == 8);
    }
}

// Random matrices give their inverse to rounding; a determinant of exactly 0
// or one that is not finite leaves the output alone.
TEST(Invert3x3, InvertsRegularMatricesAndRefusesSingularOnes) {
    std::mt19937 rng(19);
    std::uniform_real_distribution<double> dist(-100.0, 100.0);
    for (int trial = 0; trial < 100; trial++) {
        double a[3][3], inverse[3][3], product[9];
        std::generate(&a[0][0], &a[0][0] + 9, [&] { return dist(rng); });
        ASSERT_EQ(arInvert3x3(a, inverse), OK);
        Matrix am{&a[0][0], 3, 3}, inverseM{&inverse[0][0], 3, 3}, productM{product, 3, 3};
        ASSERT_EQ(arMatrixMultiply(&productM, &am, &inverseM), OK);
        for (int i = 0; i < 9; i++)
            EXPECT_NEAR(product[i], i % 4 == 0, 1e-9) << trial;
    }
    const double singular[2][3][3] = {{{1, 2, 3}, {2, 4, 6}, {0, 1, 5}},
                                      {{1, 0, 0}, {0, INFINITY, 0}, {0, 0, 1}}};
    for (const auto& a : singular) {
        double untouched[3][3] = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};
        EXPECT_EQ(arInvert3x3(a, untouched), SINGULAR);
        EXPECT_EQ(untouched[1][2], 7.0);
    }
}

// A pose and its inverse take points there and back; the plane form is the
// full one at z = 0, and turning back undoes the rotation.
TEST(PoseOperations, InverseApplyAndTurnBackAgree) {
    const double c = std::cos(0.7), s = std::sin(0.7);
    const double R[3][3] = {{c, 0, s}, {s * s, c, -s * c}, {-c * s, s, c * c}}, t[3] = {3, -4, 90};
    const Pose pose = arPoseOf(R, t), inverse = arPoseInvert(pose);
    const double p[3] = {12.5, -7.0, 0.0};
    double q[3], back[3], onPlane[3], turned[3], rotated[3];
    arPoseApply(pose, p, q);
    arPoseApply(inverse, q, back);
    arPoseApplyPlane(pose, p[0], p[1], onPlane);
    for (int j = 0; j < 3; j++) {
        EXPECT_NEAR(back[j], p[j], 1e-12);
        EXPECT_EQ(onPlane[j], q[j]);
        rotated[j] = q[j] - t[j];
    }
    arPoseRotateBack(pose, rotated, turned);
    for (int j = 0; j < 3; j++)
        EXPECT_NEAR(turned[j], p[j], 1e-12);
}
