// The edge of every export. The installer was built by another compiler and
// cannot catch what our code throws, so nothing thrown inside an export
// (memory, a text conversion) may cross it: it becomes the export's failure
// result.
#pragma once

namespace qf {

template <typename Result, typename Body>
Result AtBoundary(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace qf
