#include "quelm/core/cpus.hpp"

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace quelm {

namespace {

bool parse_positive(const char* text, std::size_t& out) {
    if (text == nullptr || *text == '\0') return false;
    std::size_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + static_cast<std::size_t>(*p - '0');
        if (v > 1000000) v = 1000000;  // saturate; callers cap it anyway
    }
    if (v == 0) return false;
    out = v;
    return true;
}

// OMP_NUM_THREADS is a list, one count per nesting level ("4,2"): the first is the
// outermost level's, the one a flat pool takes. Spaces around it are allowed.
bool parse_omp_threads(const char* text, std::size_t& out) {
    if (text == nullptr) return false;
    std::string first(text);
    first = first.substr(0, first.find(','));
    const auto begin = first.find_first_not_of(" \t");
    if (begin == std::string::npos) return false;
    const auto end = first.find_last_not_of(" \t");
    return parse_positive(first.substr(begin, end - begin + 1).c_str(), out);
}

std::size_t affinity_cpus() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int c = CPU_COUNT(&set);
        return c > 0 ? static_cast<std::size_t>(c) : 1;
    }
#endif
    // Elsewhere (or if the mask cannot be read) every processor counts.
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : hw;
}

// CPU quota of the cgroup (v2 cpu.max, else v1 cfs files), rounded up; 0 when unlimited.
std::size_t cgroup_quota_cpus() {
    long long quota = -1, period = 0;
    {
        std::ifstream f("/sys/fs/cgroup/cpu.max");
        std::string q;
        if (f >> q >> period && q != "max") quota = std::atoll(q.c_str());
    }
    if (quota <= 0) {
        std::ifstream fq("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
        std::ifstream fp("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
        if (!(fq >> quota && fp >> period)) quota = -1;
    }
    if (quota <= 0 || period <= 0) return 0;
    return static_cast<std::size_t>((quota + period - 1) / period);
}

}  // namespace

std::size_t usable_cpus() {
    std::size_t n = affinity_cpus();
    const std::size_t quota = cgroup_quota_cpus();
    if (quota > 0) n = std::min(n, quota);
    return std::max<std::size_t>(n, 1);
}

std::size_t requested_threads() {
    std::size_t n = 0;
    if (parse_positive(std::getenv("RAYON_NUM_THREADS"), n) || parse_positive(std::getenv("RAYON_RS_NUM_CPUS"), n))
        return n;
    // The setting numerical libraries share (BLAS, OpenMP code, NumPy's helpers): process
    // managers such as Dask's nanny set it to 1 per worker so that workers do not each take
    // every core.
    if (parse_omp_threads(std::getenv("OMP_NUM_THREADS"), n)) return n;
    return usable_cpus();
}

}  // namespace quelm
