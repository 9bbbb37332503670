// A heap array of doubles left uninitialised. Engines whose workers write every slot use it
// for their big working sets: the first writes fault the pages in on the workers, where a
// zero-filled vector costs a serial pass over the whole buffer before the first poll.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

namespace quelm {

class DoubleBuffer {
public:
    DoubleBuffer() = default;
    explicit DoubleBuffer(std::size_t n) : data_(new double[n]), size_(n) {}

    [[nodiscard]] double* data() { return data_.get(); }
    [[nodiscard]] const double* data() const { return data_.get(); }
    [[nodiscard]] std::size_t size() const { return size_; }
    double& operator[](std::size_t i) { return data_[i]; }
    double operator[](std::size_t i) const { return data_[i]; }
    [[nodiscard]] std::span<const double> view() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<double[]> data_;
    std::size_t size_ = 0;
};

}  // namespace quelm
