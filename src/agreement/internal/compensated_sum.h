#pragma once
// A sum of doubles with Neumaier's compensation: the error stays near one
// rounding of the total, whatever the number of terms. Added to in a fixed
// order, it gives the same bits on every run.

#include <cmath>

namespace quelmar::agreement::internal {

class CompensatedSum {
public:
    void add(double x) noexcept {
        const double t = sum_ + x;
        if (std::fabs(sum_) >= std::fabs(x)) {
            carry_ += (sum_ - t) + x;
        } else {
            carry_ += (x - t) + sum_;
        }
        sum_ = t;
    }
    double value() const noexcept { return sum_ + carry_; }

private:
    double sum_ = 0.0;
    double carry_ = 0.0;
};

}  // namespace quelmar::agreement::internal
