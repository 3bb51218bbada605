#include "pose/matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

Matrix* randomMatrix(std::mt19937& rng, int rows, int cols, double lo, double hi) {
    std::uniform_real_distribution<double> dist(lo, hi);
    Matrix* m = arMatrixCreate(rows, cols);
    for (int i = 0; i < rows * cols; i++) {
        m->data[i] = dist(rng);
    }
    return m;
}

double maxDeviationFromIdentity(const Matrix* m) {
    double worst = 0.0;
    for (int i = 0; i < m->rows; i++) {
        for (int j = 0; j < m->cols; j++) {
            worst = std::fmax(worst, std::fabs(m->data[i * m->cols + j] - (i == j ? 1.0 : 0.0)));
        }
    }
    return worst;
}

// Largest deviation of a * inverse(a) from the identity; -1 when the
// inversion fails.
double productWithInverseError(const Matrix* a) {
    Matrix* inv = arMatrixClone(a);
    Matrix* product = arMatrixCreate(a->rows, a->rows);
    double error = -1.0;
    if (arMatrixInvertInPlace(inv) == 0 && arMatrixMultiply(product, a, inv) == 0) {
        error = maxDeviationFromIdentity(product);
    }
    arMatrixDestroy(inv);
    arMatrixDestroy(product);
    return error;
}

// Textbook Gauss-Jordan on the augmented matrix [A | I] with partial
// pivoting. Performs the same operations on every value as the compact
// scheme, so its results must agree bit for bit. `firstOfEquals` false picks
// the last of equal pivot candidates instead.
bool referenceInverse(const std::vector<double>& a, int n, bool firstOfEquals,
                      std::vector<double>* inverse) {
    const int w = 2 * n;
    std::vector<double> m(n * w, 0.0);
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            m[i * w + j] = a[i * n + j];
        }
        m[i * w + n + i] = 1.0;
    }
    for (int k = 0; k < n; k++) {
        int p = k;
        double best = 0.0;
        for (int i = k; i < n; i++) {
            const double c = std::fabs(m[i * w + k]);
            if (c > best || (!firstOfEquals && c == best && best > 0.0)) {
                best = c;
                p = i;
            }
        }
        if (best <= PIVOT_FLOOR) {
            return false;
        }
        for (int j = 0; j < w; j++) {
            std::swap(m[k * w + j], m[p * w + j]);
        }
        const double v = m[k * w + k];
        for (int j = k + 1; j < w; j++) {
            m[k * w + j] = m[k * w + j] / v;
        }
        for (int i = 0; i < n; i++) {
            if (i == k) {
                continue;
            }
            const double t = m[i * w + k];
            for (int j = k + 1; j < w; j++) {
                m[i * w + j] = m[i * w + j] - t * m[k * w + j];
            }
        }
    }
    inverse->assign(n * n, 0.0);
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            (*inverse)[i * n + j] = m[i * w + n + j];
        }
    }
    return true;
}

// Random rotation from a random unit quaternion.
void randomRotation(std::mt19937& rng, double r[3][3]) {
    std::normal_distribution<double> g(0.0, 1.0);
    double q[4];
    double norm = 0.0;
    for (double& c : q) {
        c = g(rng);
        norm += c * c;
    }
    norm = std::sqrt(norm);
    const double w = q[0] / norm, x = q[1] / norm, y = q[2] / norm, z = q[3] / norm;
    const double m[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            r[i][j] = m[i][j];
        }
    }
}

}  // namespace

TEST(MatrixRecords, CreateCloneAndAssignCheckShapes) {
    EXPECT_EQ(arMatrixCreate(-1, 3), nullptr);
    EXPECT_EQ(arVectorCreate(-1), nullptr);
    Matrix* empty = arMatrixCreate(0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(arMatrixDestroy(empty), 0);

    std::mt19937 rng(1);
    Matrix* a = randomMatrix(rng, 3, 4, -1.0, 1.0);
    Matrix* copy = arMatrixClone(a);
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copy->rows, 3);
    ASSERT_EQ(copy->cols, 4);
    EXPECT_NE(copy->data, a->data);
    for (int i = 0; i < 12; i++) {
        EXPECT_EQ(copy->data[i], a->data[i]);
    }

    Matrix* transposedShape = randomMatrix(rng, 4, 3, -1.0, 1.0);
    const std::vector<double> before(transposedShape->data, transposedShape->data + 12);
    EXPECT_EQ(arMatrixAssign(transposedShape, a), -1);
    EXPECT_EQ(std::vector<double>(transposedShape->data, transposedShape->data + 12), before);

    EXPECT_EQ(arMatrixDestroy(a), 0);
    EXPECT_EQ(arMatrixDestroy(copy), 0);
    EXPECT_EQ(arMatrixDestroy(transposedShape), 0);
}

TEST(MatrixMultiply, MismatchedShapesLeaveDestUnchanged) {
    std::mt19937 rng(2);
    Matrix* a = randomMatrix(rng, 2, 3, -1.0, 1.0);
    Matrix* b = randomMatrix(rng, 3, 4, -1.0, 1.0);
    Matrix* dest = randomMatrix(rng, 2, 4, -1.0, 1.0);
    Matrix* wrong = randomMatrix(rng, 2, 3, -1.0, 1.0);
    const std::vector<double> destBefore(dest->data, dest->data + 8);
    const std::vector<double> wrongBefore(wrong->data, wrong->data + 6);

    EXPECT_EQ(arMatrixMultiply(dest, b, a), -1);   // inner sizes differ
    EXPECT_EQ(arMatrixMultiply(wrong, a, b), -1);  // dest has the wrong shape
    EXPECT_EQ(std::vector<double>(dest->data, dest->data + 8), destBefore);
    EXPECT_EQ(std::vector<double>(wrong->data, wrong->data + 6), wrongBefore);

    for (Matrix* m : {a, b, dest, wrong}) {
        arMatrixDestroy(m);
    }
}

TEST(GaussJordan, WellAndIllConditionedMatricesTimesInverseGiveIdentity) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 300; trial++) {
        const int n = 1 + trial % 8;
        Matrix* a = randomMatrix(rng, n, n, -10.0, 10.0);
        const double error = productWithInverseError(a);
        if (error >= 0.0) {  // a random matrix is singular only by chance
            EXPECT_LT(error, 1e-8) << "n = " << n << ", trial " << trial;
        }
        arMatrixDestroy(a);
    }

    // Hilbert matrices: condition numbers up to about 5e8.
    for (int n = 2; n <= 7; n++) {
        Matrix* h = arMatrixCreate(n, n);
        for (int i = 0; i < n; i++) {
            for (int j = 0; j < n; j++) {
                h->data[i * n + j] = 1.0 / (i + j + 1);
            }
        }
        const double error = productWithInverseError(h);
        EXPECT_GE(error, 0.0) << "n = " << n;
        EXPECT_LT(error, 1e-6) << "n = " << n;
        arMatrixDestroy(h);
    }
}

TEST(GaussJordan, AgreesBitForBitWithAugmentedEliminationAndTakesFirstOfEqualPivots) {
    // Small integer entries make equal pivot candidates common.
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> entry(-2, 2);
    int comparedWithTies = 0;
    int lastOfEqualsDiffered = 0;
    for (int trial = 0; trial < 2000; trial++) {
        const int n = 2 + trial % 5;
        std::vector<double> a(n * n);
        for (double& x : a) {
            x = entry(rng);
        }
        std::vector<double> expected;
        std::vector<double> lastOfEquals;
        const bool ok = referenceInverse(a, n, true, &expected);
        const bool okLast = referenceInverse(a, n, false, &lastOfEquals);

        std::vector<double> work = a;
        const bool inverted = arGaussJordanInvert(work.data(), n, n) != nullptr;
        ASSERT_EQ(inverted, ok) << "trial " << trial;
        if (!ok) {
            continue;
        }
        for (int i = 0; i < n * n; i++) {
            ASSERT_EQ(work[i], expected[i]) << "trial " << trial << " element " << i;
        }
        comparedWithTies++;
        if (okLast && lastOfEquals != expected) {
            lastOfEqualsDiffered++;
        }
    }
    EXPECT_GT(comparedWithTies, 500);
    // The comparison is sharp enough to tell the two tie rules apart.
    EXPECT_GT(lastOfEqualsDiffered, 10);
}

TEST(GaussJordan, PivotAtOrBelowFloorFails) {
    // The first pivot candidate column is (scale, 0, 0).
    auto invertDiagonal = [](double scale) {
        Matrix* m = arMatrixCreate(3, 3);
        const double values[9] = {scale, 0, 0, 0, 1, 0, 0, 0, 1};
        for (int i = 0; i < 9; i++) {
            m->data[i] = values[i];
        }
        const int status = arMatrixInvertInPlace(m);
        arMatrixDestroy(m);
        return status;
    };
    EXPECT_EQ(invertDiagonal(PIVOT_FLOOR), -1);
    EXPECT_EQ(invertDiagonal(-PIVOT_FLOOR), -1);
    EXPECT_EQ(invertDiagonal(0.0), -1);
    EXPECT_EQ(invertDiagonal(std::nextafter(PIVOT_FLOOR, 1.0)), 0);

    // A zero column found at a later step.
    double zeroColumn[9] = {1, 0, 2, 3, 0, 4, 5, 0, 6};
    EXPECT_EQ(arGaussJordanInvert(zeroColumn, 3, 3), nullptr);
}

TEST(GaussJordan, SizeLimitsAndStride) {
    EXPECT_EQ(arGaussJordanInvert(nullptr, 0, 0), nullptr);

    // Larger than the permutation record: refused before anything is touched.
    const int big = GAUSS_JORDAN_MAX + 1;
    std::vector<double> tooBig(big * big, 0.0);
    for (int i = 0; i < big; i++) {
        tooBig[i * big + i] = 2.0;
    }
    const std::vector<double> before = tooBig;
    EXPECT_EQ(arGaussJordanInvert(tooBig.data(), big, big), nullptr);
    EXPECT_EQ(tooBig, before);
    Matrix bigMatrix{tooBig.data(), big, big};
    EXPECT_EQ(arMatrixInvertInPlace(&bigMatrix), -1);
    EXPECT_EQ(tooBig, before);

    // The largest size works.
    std::mt19937 rng(5);
    Matrix* largest = randomMatrix(rng, GAUSS_JORDAN_MAX, GAUSS_JORDAN_MAX, -1.0, 1.0);
    for (int i = 0; i < GAUSS_JORDAN_MAX; i++) {
        largest->data[i * GAUSS_JORDAN_MAX + i] += GAUSS_JORDAN_MAX;
    }
    const double error = productWithInverseError(largest);
    EXPECT_GE(error, 0.0);
    EXPECT_LT(error, 1e-12);
    arMatrixDestroy(largest);

    // A 2 x 2 block inside a wider array: the columns beyond it stay as they are.
    double wide[2 * 4] = {4, 7, 99, -99, 2, 6, 98, -98};
    ASSERT_EQ(arGaussJordanInvert(wide, 2, 4), wide);
    EXPECT_DOUBLE_EQ(wide[0], 0.6);
    EXPECT_DOUBLE_EQ(wide[1], -0.7);
    EXPECT_DOUBLE_EQ(wide[4], -0.2);
    EXPECT_DOUBLE_EQ(wide[5], 0.4);
    EXPECT_EQ(wide[2], 99);
    EXPECT_EQ(wide[3], -99);
    EXPECT_EQ(wide[6], 98);
    EXPECT_EQ(wide[7], -98);

    double single = 4.0;
    EXPECT_EQ(arGaussJordanInvert(&single, 1, 1), &single);
    EXPECT_EQ(single, 0.25);
}

TEST(PoseInvert, GivesTransposedRotationAndMinusRTransposeT) {
    std::mt19937 rng(6);
    std::uniform_real_distribution<double> offset(-500.0, 500.0);
    for (int trial = 0; trial < 200; trial++) {
        double r[3][3];
        randomRotation(rng, r);
        double pose[3][4];
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                pose[i][j] = r[i][j];
            }
            pose[i][3] = offset(rng);
        }
        double inverse[3][4];
        ASSERT_EQ(arPoseInvert(pose, inverse), 0);
        for (int i = 0; i < 3; i++) {
            double expectedT = 0.0;
            for (int j = 0; j < 3; j++) {
                EXPECT_NEAR(inverse[i][j], r[j][i], 1e-12);
                expectedT -= r[j][i] * pose[j][3];
            }
            EXPECT_NEAR(inverse[i][3], expectedT, 1e-9);
        }

        // In place: the same bits as into a separate array.
        double inPlace[3][4];
        std::copy(&pose[0][0], &pose[0][0] + 12, &inPlace[0][0]);
        ASSERT_EQ(arPoseInvert(inPlace, inPlace), 0);
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 4; j++) {
                EXPECT_EQ(inPlace[i][j], inverse[i][j]);
            }
        }
    }
}

TEST(VectorDot, SumsInIndexOrderOverViews) {
    Vector* a = arVectorCreate(4);
    ASSERT_NE(a, nullptr);
    const double values[4] = {1e16, 1.0, -1e16, 1.0};
    std::copy(values, values + 4, a->data);
    double ones[4] = {1, 1, 1, 1};
    Vector onesView{ones, 4};
    // (((1e16 + 1) - 1e16) + 1): the first 1 is lost to rounding.
    EXPECT_EQ(arVectorDot(a, &onesView), 1.0);

    Vector tail{a->data + 2, 2};
    Vector onesTail{ones, 2};
    EXPECT_EQ(arVectorDot(&tail, &onesTail), -1e16 + 1.0);
    EXPECT_EQ(arVectorDestroy(a), 0);
}

TEST(VectorDotDeathTest, DifferentLengthsAbortWithAMessage) {
    double x[3] = {1, 2, 3};
    Vector a{x, 3};
    Vector b{x, 2};
    EXPECT_DEATH(arVectorDot(&a, &b), "different lengths");
}
