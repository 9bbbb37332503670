// Many scenarios on the worker pool, each writing only its own slot, so the results do not
// depend on how the pool shared them out.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/parallel.hpp"

namespace quelm::book {

// each(i, token) -> Status for every scenario i < count. The workers get a token that
// hears the pool's stop (they may not poll the caller's). The error of the lowest failing
// scenario comes back with prefix(i) before its text; cancelled() when stopped.
template <class Each, class Prefix>
[[nodiscard]] Status for_each_scenario(std::size_t count, Each each, Prefix prefix, Cancel& cancel) {
    std::vector<std::optional<Error>> failures(count);
    const bool done = parallel_for(
        count,
        [&](std::size_t begin, std::size_t end) {
            Cancel chunk(+[](void*) { return chunk_stopped(); }, nullptr);
            for (std::size_t i = begin; i < end; ++i) {
                if (chunk_stopped()) return;
                if (auto s = each(i, chunk); !s) {
                    failures[i] = std::move(s.error());
                    return;
                }
            }
        },
        cancel);
    if (!done) return cancelled();
    for (std::size_t i = 0; i < count; ++i) {
        if (!failures[i]) continue;
        if (is_cancelled(*failures[i])) return cancelled();
        Error e = std::move(*failures[i]);
        e.text = std::string(prefix(i)) + e.text;
        return std::unexpected(std::move(e));
    }
    return {};
}

}  // namespace quelm::book
