#include "pose/principal_axes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

double& at(Matrix* m, int i, int j) {
    return m->data[i * m->cols + j];
}

std::vector<double> contents(const Matrix* m) {
    return std::vector<double>(m->data, m->data + m->rows * m->cols);
}

std::vector<double> contents(const Vector* v) {
    return std::vector<double>(v->data, v->data + v->length);
}

Matrix* randomMatrix(std::mt19937& rng, int rows, int cols, double lo, double hi) {
    std::uniform_real_distribution<double> dist(lo, hi);
    Matrix* m = arMatrixCreate(rows, cols);
    for (int i = 0; i < rows * cols; i++) {
        m->data[i] = dist(rng);
    }
    return m;
}

// Sum of `rank` random outer products with random signs: symmetric, with
// n - rank zero eigenvalues.
Matrix* randomSymmetric(std::mt19937& rng, int n, int rank) {
    Matrix* b = randomMatrix(rng, rank, n, -1.0, 1.0);
    Matrix* a = arMatrixCreate(n, n);
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            double sum = 0.0;
            for (int k = 0; k < rank; k++) {
                sum += (k % 2 == 0 ? 1.0 : -1.0) * at(b, k, i) * at(b, k, j);
            }
            at(a, i, j) = sum;
        }
    }
    arMatrixDestroy(b);
    return a;
}

double rowDot(const Matrix* a, int i, const Matrix* b, int j) {
    double sum = 0.0;
    for (int k = 0; k < a->cols; k++) {
        sum += a->data[i * a->cols + k] * b->data[j * b->cols + k];
    }
    return sum;
}

void expectOrthonormalRows(const Matrix* q, int rows, double tolerance) {
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < rows; j++) {
            EXPECT_NEAR(rowDot(q, i, q, j), i == j ? 1.0 : 0.0, tolerance) << i << ", " << j;
        }
    }
}

// Largest |(A v - lambda v)_k| over every row v of `vectors`.
double worstEigenResidual(const Matrix* a, const Matrix* vectors, const Vector* values) {
    const int n = a->rows;
    double worst = 0.0;
    for (int r = 0; r < vectors->rows; r++) {
        for (int i = 0; i < n; i++) {
            double av = 0.0;
            for (int k = 0; k < n; k++) {
                av += a->data[i * n + k] * vectors->data[r * n + k];
            }
            worst = std::fmax(worst, std::fabs(av - values->data[r] * vectors->data[r * n + i]));
        }
    }
    return worst;
}

}  // namespace

TEST(SymmetricEigen, RandomMatricesGiveOrthonormalEigenvectorsInDescendingOrder) {
    std::mt19937 rng(13);
    for (int trial = 0; trial < 400; trial++) {
        const int n = 2 + trial % 7;
        const int rank = (trial / 7) % 3 == 0 ? 1 + trial % n : n;
        Matrix* a = randomSymmetric(rng, n, rank);
        Matrix* vectors = arMatrixClone(a);
        for (int i = 0; i < n; i++) {
            for (int j = 0; j < i; j++) {
                at(vectors, i, j) = 1e300;  // below the diagonal: never read
            }
        }
        Vector* values = arVectorCreate(n);
        ASSERT_EQ(arSymmetricEigen(vectors, values), 0);

        // Off-diagonal elements count as zero below 1e-6 of their neighbours on
        // the diagonal, which bounds the accuracy; the rotations keep the
        // vectors orthonormal to rounding.
        const double scale = std::fmax(std::fabs(values->data[0]), std::fabs(values->data[n - 1]));
        EXPECT_LT(worstEigenResidual(a, vectors, values), 1e-5 * scale) << "trial " << trial;
        expectOrthonormalRows(vectors, n, 1e-12);
        for (int i = 1; i < n; i++) {
            EXPECT_GE(values->data[i - 1], values->data[i]) << "trial " << trial;
        }
        arMatrixDestroy(a);
        arMatrixDestroy(vectors);
        arVectorDestroy(values);
    }
}

TEST(SymmetricEigen, EqualEigenvaluesKeepTheirOrder) {
    // Already diagonal: no rotation happens, so only the sort moves rows.
    Matrix* a = arMatrixCreate(4, 4);
    const double diagonal[4] = {1.0, 2.0, 2.0, 0.0};
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            at(a, i, j) = i == j ? diagonal[i] : 0.0;
        }
    }
    Vector* d = arVectorCreate(4);
    ASSERT_EQ(arSymmetricEigen(a, d), 0);
    EXPECT_EQ(contents(d), (std::vector<double>{2.0, 2.0, 1.0, 0.0}));
    const int expectedAxis[4] = {1, 2, 0, 3};
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            EXPECT_EQ(at(a, i, j), j == expectedAxis[i] ? 1.0 : 0.0) << i << ", " << j;
        }
    }
    arMatrixDestroy(a);
    arVectorDestroy(d);
}

TEST(SymmetricEigen, ShapeChecksLeaveArgumentsUnchanged) {
    std::mt19937 rng(14);
    Matrix* one = randomMatrix(rng, 1, 1, -1.0, 1.0);
    Matrix* wide = randomMatrix(rng, 2, 3, -1.0, 1.0);
    Matrix* square = randomSymmetric(rng, 3, 3);
    Vector* d1 = arVectorCreate(1);
    Vector* d2 = arVectorCreate(2);
    d1->data[0] = 7.0;
    d2->data[0] = d2->data[1] = 7.0;
    const std::vector<double> oneBefore = contents(one), wideBefore = contents(wide),
                              squareBefore = contents(square);

    EXPECT_EQ(arSymmetricEigen(one, d1), -1);
    EXPECT_EQ(arSymmetricEigen(wide, d2), -1);
    EXPECT_EQ(arSymmetricEigen(square, d2), -1);
    Vector* e = arVectorCreate(1);
    e->data[0] = 7.0;
    EXPECT_EQ(arReduceTridiagonal(square, d2, e), -1);

    EXPECT_EQ(contents(one), oneBefore);
    EXPECT_EQ(contents(wide), wideBefore);
    EXPECT_EQ(contents(square), squareBefore);
    EXPECT_EQ(contents(d1), std::vector<double>{7.0});
    EXPECT_EQ(contents(d2), (std::vector<double>{7.0, 7.0}));
    EXPECT_EQ(contents(e), std::vector<double>{7.0});
    for (Matrix* m : {one, wide, square}) {
        arMatrixDestroy(m);
    }
    for (Vector* v : {d1, d2, e}) {
        arVectorDestroy(v);
    }
}

TEST(EigenAxes, EigenvaluesBelowTheFloorAndAllAfterThemBecomeZeroRows) {
    std::mt19937 rng(15);
    Matrix* x = randomMatrix(rng, 3, 5, -1.0, 1.0);
    Matrix* u = randomMatrix(rng, 3, 3, -1.0, 1.0);
    Matrix* evec = arMatrixCreate(3, 5);
    Vector* ev = arVectorCreate(3);
    const double cases[][3] = {
        {2.0, 1e-17, 5.0}, {2.0, -1e-20, 1.0}, {EIGEN_VALUE_FLOOR, 0.5, 0.0}};
    const int kept[] = {1, 1, 2};
    for (int c = 0; c < 3; c++) {
        std::copy(cases[c], cases[c] + 3, ev->data);
        ASSERT_EQ(arLiftEigenvectors(x, u, evec, ev), 0);
        for (int i = 0; i < 3; i++) {
            double length2 = 0.0;
            for (int j = 0; j < 5; j++) {
                length2 += at(evec, i, j) * at(evec, i, j);
            }
            if (i < kept[c]) {
                EXPECT_EQ(ev->data[i], cases[c][i]);
                EXPECT_GT(length2, 0.0);
            } else {
                EXPECT_EQ(ev->data[i], 0.0) << "case " << c << " row " << i;
                EXPECT_EQ(length2, 0.0) << "case " << c << " row " << i;
            }
        }
    }
    for (Matrix* m : {x, u, evec}) {
        arMatrixDestroy(m);
    }
    arVectorDestroy(ev);
}

TEST(EigenAxes, FewerRowsThanColumnsGoesThroughTheRowProductToUnitAxes) {
    std::mt19937 rng(16);
    for (int trial = 0; trial < 200; trial++) {
        const int r = 2 + trial % 3;
        const int c = r + 1 + trial % 4;
        Matrix* x = randomMatrix(rng, r, c, -1.0, 1.0);  // full rank r
        Matrix* evec = arMatrixCreate(r, c);
        Vector* ev = arVectorCreate(r);
        ASSERT_EQ(arEigenAxes(x, evec, ev), 0);

        Matrix* xtx = arMatrixCreate(c, c);
        ASSERT_EQ(arMatrixColumnProducts(x, xtx), 0);
        // Unit length holds to rounding (ev[i] is the Rayleigh quotient of row
        // i of u); orthogonality only as far as the QR tolerance allows.
        for (int i = 0; i < r; i++) {
            EXPECT_NEAR(rowDot(evec, i, evec, i), 1.0, 1e-12) << "trial " << trial;
        }
        expectOrthonormalRows(evec, r, 1e-4);
        EXPECT_LT(worstEigenResidual(xtx, evec, ev), 1e-5 * ev->data[0]) << "trial " << trial;
        for (int i = 1; i < r; i++) {
            EXPECT_GE(ev->data[i - 1], ev->data[i]);
        }
        for (Matrix* m : {x, evec, xtx}) {
            arMatrixDestroy(m);
        }
        arVectorDestroy(ev);
    }
}

TEST(PrincipalAxes, PointsOnALineGiveItsDirectionAllTheVarianceAndTheCentroid) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> xs(-100.0, 100.0);
    Matrix* evec = arMatrixCreate(2, 2);
    Vector* ev = arVectorCreate(2);
    Vector* mean = arVectorCreate(2);
    for (int trial = 0; trial < 200; trial++) {
        const int count = 2 + trial % 60;
        Matrix* points = arMatrixCreate(count, 2);
        double sumX = 0.0;
        for (int i = 0; i < count; i++) {
            at(points, i, 0) = xs(rng);
            at(points, i, 1) = 2.0 * at(points, i, 0) + 1.0;
            sumX += at(points, i, 0);
        }
        const std::vector<double> before = contents(points);
        ASSERT_EQ(arMatrixPrincipalAxes(points, evec, ev, mean), 0) << "trial " << trial;
        EXPECT_EQ(contents(points), before);

        const double sign = at(evec, 0, 0) < 0.0 ? -1.0 : 1.0;
        EXPECT_NEAR(sign * at(evec, 0, 0), 1.0 / std::sqrt(5.0), 1e-9);
        EXPECT_NEAR(sign * at(evec, 0, 1), 2.0 / std::sqrt(5.0), 1e-9);
        EXPECT_NEAR(ev->data[0], 1.0, 1e-12);
        EXPECT_NEAR(ev->data[1], 0.0, 1e-12);
        EXPECT_EQ(ev->data[0] + ev->data[1], 1.0);
        const double meanX = sumX / count;
        EXPECT_NEAR(mean->data[0], meanX, 1e-12);
        EXPECT_NEAR(mean->data[1], 2.0 * meanX + 1.0, 1e-12);
        arMatrixDestroy(points);
    }
    arMatrixDestroy(evec);
    arVectorDestroy(ev);
    arVectorDestroy(mean);
}

TEST(PrincipalAxes, PointCloudsMatchTheClosedFormForTwoDimensions) {
    std::mt19937 rng(18);
    std::normal_distribution<double> g(0.0, 1.0);
    std::uniform_real_distribution<double> angle(-std::numbers::pi, std::numbers::pi);
    Matrix* evec = arMatrixCreate(2, 2);
    Vector* ev = arVectorCreate(2);
    Vector* mean = arVectorCreate(2);
    for (int trial = 0; trial < 300; trial++) {
        const int count = 3 + trial % 100;
        const double a = angle(rng);
        Matrix* points = arMatrixCreate(count, 2);
        for (int i = 0; i < count; i++) {
            const double along = 20.0 * g(rng), across = 2.0 * g(rng);
            at(points, i, 0) = 300.0 + along * std::cos(a) - across * std::sin(a);
            at(points, i, 1) = 200.0 + along * std::sin(a) + across * std::cos(a);
        }
        ASSERT_EQ(arMatrixPrincipalAxes(points, evec, ev, mean), 0);

        double sxx = 0.0, syy = 0.0, sxy = 0.0;
        for (int i = 0; i < count; i++) {
            const double dx = at(points, i, 0) - mean->data[0];
            const double dy = at(points, i, 1) - mean->data[1];
            sxx += dx * dx;
            syy += dy * dy;
            sxy += dx * dy;
        }
        const double major = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
        const double cross = at(evec, 0, 0) * std::sin(major) - at(evec, 0, 1) * std::cos(major);
        EXPECT_NEAR(cross, 0.0, 1e-8) << "trial " << trial;
        expectOrthonormalRows(evec, 2, 1e-10);
        EXPECT_GE(ev->data[0], ev->data[1]);
        EXPECT_GE(ev->data[1], 0.0);
        EXPECT_NEAR(ev->data[0] + ev->data[1], 1.0, 1e-15);
        arMatrixDestroy(points);
    }
    arMatrixDestroy(evec);
    arVectorDestroy(ev);
    arVectorDestroy(mean);
}

TEST(PrincipalAxes, TwoPointsSucceedOnePointAndCoincidentPointsFail) {
    std::mt19937 rng(19);
    Matrix* evec = arMatrixCreate(2, 2);
    Vector* ev = arVectorCreate(2);
    Vector* mean = arVectorCreate(2);

    for (int trial = 0; trial < 100; trial++) {
        Matrix* pair = randomMatrix(rng, 2, 2, -50.0, 50.0);
        ASSERT_EQ(arMatrixPrincipalAxes(pair, evec, ev, mean), 0);
        const double dx = at(pair, 1, 0) - at(pair, 0, 0), dy = at(pair, 1, 1) - at(pair, 0, 1);
        EXPECT_NEAR((at(evec, 0, 0) * dy - at(evec, 0, 1) * dx) / std::hypot(dx, dy), 0.0, 1e-9);
        EXPECT_NEAR(ev->data[0], 1.0, 1e-12);
        arMatrixDestroy(pair);
    }

    const double marker = 42.0;
    std::fill(evec->data, evec->data + 4, marker);
    std::fill(ev->data, ev->data + 2, marker);
    std::fill(mean->data, mean->data + 2, marker);
    Matrix* single = randomMatrix(rng, 1, 2, -50.0, 50.0);
    EXPECT_EQ(arMatrixPrincipalAxes(single, evec, ev, mean), -1);
    EXPECT_EQ(contents(evec), std::vector<double>(4, marker));
    EXPECT_EQ(contents(ev), std::vector<double>(2, marker));
    EXPECT_EQ(contents(mean), std::vector<double>(2, marker));

    for (int count : {2, 3, 40}) {
        Matrix* same = arMatrixCreate(count, 2);
        for (int i = 0; i < count; i++) {
            at(same, i, 0) = 12.5;
            at(same, i, 1) = -3.25;
        }
        EXPECT_EQ(arMatrixPrincipalAxes(same, evec, ev, mean), -1) << count << " points";
        arMatrixDestroy(same);
    }
    arMatrixDestroy(single);
    arMatrixDestroy(evec);
    arVectorDestroy(ev);
    arVectorDestroy(mean);
}

TEST(PrincipalAxes, ShapeChecksLeaveArgumentsUnchanged) {
    std::mt19937 rng(20);
    Matrix* points = randomMatrix(rng, 5, 3, -1.0, 1.0);
    Matrix* goodAxes = randomMatrix(rng, 3, 3, -1.0, 1.0);
    Matrix* badAxes = randomMatrix(rng, 2, 3, -1.0, 1.0);
    Vector* ev = arVectorCreate(3);
    Vector* shortVector = arVectorCreate(2);
    Vector* mean = arVectorCreate(3);
    std::fill(ev->data, ev->data + 3, 5.0);
    std::fill(shortVector->data, shortVector->data + 2, 5.0);
    std::fill(mean->data, mean->data + 3, 5.0);
    const std::vector<double> goodBefore = contents(goodAxes), badBefore = contents(badAxes);

    EXPECT_EQ(arMatrixPrincipalAxes(points, badAxes, ev, mean), -1);
    EXPECT_EQ(arMatrixPrincipalAxes(points, goodAxes, shortVector, mean), -1);
    EXPECT_EQ(arMatrixPrincipalAxes(points, goodAxes, ev, shortVector), -1);
    EXPECT_EQ(arEigenAxes(points, badAxes, ev), -1);
    EXPECT_EQ(arMatrixColumnMean(points, shortVector), -1);
    EXPECT_EQ(arMatrixCentre(points, shortVector), -1);
    EXPECT_EQ(arMatrixRowProducts(points, goodAxes), -1);
    EXPECT_EQ(arMatrixColumnProducts(points, badAxes), -1);

    EXPECT_EQ(contents(goodAxes), goodBefore);
    EXPECT_EQ(contents(badAxes), badBefore);
    EXPECT_EQ(contents(ev), std::vector<double>(3, 5.0));
    EXPECT_EQ(contents(shortVector), std::vector<double>(2, 5.0));
    EXPECT_EQ(contents(mean), std::vector<double>(3, 5.0));
    for (Matrix* m : {points, goodAxes, badAxes}) {
        arMatrixDestroy(m);
    }
    for (Vector* v : {ev, shortVector, mean}) {
        arVectorDestroy(v);
    }
}
