#include "quelm/core/memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace quelm {

namespace {

// Below this a working set is never refused, so ordinary calls read no file at all.
constexpr double kAlwaysFits = 64.0 * 1024.0 * 1024.0;

// A limit file holds a byte count, or "max" when unlimited; 0 when absent or unlimited.
double read_limit(const std::string& path) {
    std::ifstream f(path);
    std::string text;
    if (!(f >> text) || text.empty() || text[0] < '0' || text[0] > '9') return 0.0;
    return std::stod(text);
}

// The cgroup path of a controller from /proc/self/cgroup ("0::/x" for v2, "4:memory:/x" for v1).
std::string cgroup_path(bool v2) {
    std::ifstream f("/proc/self/cgroup");
    std::string line;
    while (std::getline(f, line)) {
        const auto a = line.find(':');
        const auto b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        if (v2 ? controllers.empty() : controllers.find("memory") != std::string::npos) return line.substr(b + 1);
    }
    return "/";
}

double lowest_set(double a, double b) {
    if (a <= 0.0) return b;
    if (b <= 0.0) return a;
    return std::min(a, b);
}

double cgroup_limit() {
    double limit = 0.0;
    const std::string v2 = cgroup_path(true), v1 = cgroup_path(false);
    // The process's own group where it is visible, else the root of the mount (a container).
    for (const std::string& p : {"/sys/fs/cgroup" + v2 + "/memory.max", std::string("/sys/fs/cgroup/memory.max"),
                                 "/sys/fs/cgroup/memory" + v1 + "/memory.limit_in_bytes",
                                 std::string("/sys/fs/cgroup/memory/memory.limit_in_bytes")})
        limit = lowest_set(limit, read_limit(p));
    return limit;
}

double measure() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGE_SIZE);
    double bytes = pages > 0 && page > 0 ? static_cast<double>(pages) * static_cast<double>(page) : 0.0;
    bytes = lowest_set(bytes, cgroup_limit());
    rlimit as{};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY)
        bytes = lowest_set(bytes, static_cast<double>(as.rlim_cur));
    return bytes;
}

// "23.4 GB", "2.4 TB", ... with one decimal; beyond exabytes in exponent form.
std::string gigabytes(double bytes) {
    static constexpr const char* kUnits[] = {"GB", "TB", "PB", "EB"};
    double v = bytes / 1e9;
    std::size_t u = 0;
    while (v >= 1000.0 && u + 1 < std::size(kUnits)) {
        v /= 1000.0;
        ++u;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, v < 1000.0 ? "%.1f %s" : "%.3g %s", v, kUnits[u]);
    return buf;
}

}  // namespace

double usable_memory_bytes() {
    static const double bytes = measure();
    return bytes;
}

Status check_fits_in_memory(double bytes, const char* what) {
    if (!(bytes > kAlwaysFits)) return {};
    const double usable = usable_memory_bytes();
    if (usable <= 0.0 || bytes <= usable) return {};
    return out_of_memory("cannot allocate " + gigabytes(bytes) + " for " + what + ": the process can use at most " +
                         gigabytes(usable));
}

}  // namespace quelm
