#pragma once
// Shared by the numeric tests that run once for float and once for double: the typed-test list
// with readable names, per-type tolerances, and an owning matrix that hands out row pointers.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

namespace floatingtypes {

using Types = ::testing::Types<float, double>;

// So that a failing instance names its precision instead of an index.
struct Names {
    template <typename T>
    static std::string GetName(int) {
        return std::is_same_v<T, float> ? "float" : "double";
    }
};

// Rounding differs by orders of magnitude between the two, so each check states both bounds.
template <typename T>
constexpr double perType(double forFloat, double forDouble) {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>,
                  "tolerances are known for float and double only");
    return std::is_same_v<T, float> ? forFloat : forDouble;
}

// Owns a rows x cols matrix (square when one size is given) and hands out row pointers, the
// form the library takes.
template <typename T>
struct Matrix {
    explicit Matrix(int n) : Matrix(n, n) {}
    Matrix(int rows_, int cols_)
        : rows(rows_),
          cols(cols_),
          data(static_cast<size_t>(rows_) * static_cast<size_t>(cols_), T(0)),
          ptr(static_cast<size_t>(rows_)) {
        link();
    }
    Matrix(const Matrix& other)
        : rows(other.rows), cols(other.cols), data(other.data), ptr(other.ptr.size()) {
        link();
    }
    Matrix& operator=(const Matrix&) = delete;

    T** get() { return ptr.data(); }
    T* operator[](int r) { return ptr[r]; }
    const T* operator[](int r) const { return ptr[r]; }

    int rows;
    int cols;
    std::vector<T> data;
    std::vector<T*> ptr;

  private:
    void link() {
        for (int r = 0; r < rows; ++r) {
            ptr[r] = data.data() + static_cast<size_t>(r) * static_cast<size_t>(cols);
        }
    }
};

}  // namespace floatingtypes
