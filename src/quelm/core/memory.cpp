#include "quelm/core/memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace quelm {

namespace {

// Below this a working set is never refused nor counted, so ordinary calls read no file.
constexpr double kAlwaysFits = 64.0 * 1024.0 * 1024.0;
constexpr double kUnknown = std::numeric_limits<double>::infinity();

double lowest_set(double a, double b) {
    if (a <= 0.0) return b;
    if (b <= 0.0) return a;
    return std::min(a, b);
}

// A limit file holds a byte count, or "max" when unlimited; 0 when absent or unlimited.
double read_number(const std::string& path) {
    std::ifstream f(path);
    std::string text;
    if (!(f >> text) || text.empty() || text[0] < '0' || text[0] > '9') return 0.0;
    return std::stod(text);
}

// The value of `key` in a "key value" file (memory.stat), 0 when absent.
double read_stat(const std::string& path, const std::string& key) {
    std::ifstream f(path);
    std::string k;
    double v = 0.0;
    while (f >> k >> v)
        if (k == key) return v;
    return 0.0;
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

// A memory cgroup's files: its limit, its usage and the reclaimable part of that usage.
struct GroupFiles {
    std::string limit, usage, stat, inactive_key;
};

// The process's own groups where they are visible, else the roots of the mounts (a container).
std::vector<GroupFiles> memory_groups() {
    const std::string v2 = cgroup_path(true), v1 = cgroup_path(false);
    std::vector<GroupFiles> groups;
    for (const std::string& d : {"/sys/fs/cgroup" + v2, std::string("/sys/fs/cgroup")})
        groups.push_back({d + "/memory.max", d + "/memory.current", d + "/memory.stat", "inactive_file"});
    for (const std::string& d : {"/sys/fs/cgroup/memory" + v1, std::string("/sys/fs/cgroup/memory")})
        groups.push_back(
            {d + "/memory.limit_in_bytes", d + "/memory.usage_in_bytes", d + "/memory.stat", "total_inactive_file"});
    return groups;
}

const std::vector<GroupFiles>& groups() {
    static const std::vector<GroupFiles> g = memory_groups();
    return g;
}

// QUELM_MEMORY_LIMIT: bytes, with an optional unit (KB, MB, GB, TB in powers of 1000;
// KiB, MiB, GiB, TiB in powers of 1024); 0 when unset or unreadable.
double configured_limit() {
    const char* text = std::getenv("QUELM_MEMORY_LIMIT");
    if (text == nullptr || *text == '\0') return 0.0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    std::string unit(end);
    unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
    for (char& c : unit) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    static constexpr struct {
        const char* name;
        double scale;
    } kUnits[] = {{"", 1.0},          {"B", 1.0},          {"K", 1e3},          {"KB", 1e3},
                  {"M", 1e6},         {"MB", 1e6},         {"G", 1e9},          {"GB", 1e9},
                  {"T", 1e12},        {"TB", 1e12},        {"KIB", 1024.0},     {"MIB", 1048576.0},
                  {"GIB", 1073741824.0}, {"TIB", 1099511627776.0}};
    for (const auto& u : kUnits)
        if (unit == u.name) return std::isfinite(v) && v > 0.0 ? v * u.scale : 0.0;
    return 0.0;
}

double env_limit() {
    static const double bytes = configured_limit();
    return bytes;
}

double address_space_limit() {
    rlimit as{};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) return static_cast<double>(as.rlim_cur);
    return 0.0;
}

double measure() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGE_SIZE);
    double bytes = pages > 0 && page > 0 ? static_cast<double>(pages) * static_cast<double>(page) : 0.0;
    for (const GroupFiles& g : groups()) bytes = lowest_set(bytes, read_number(g.limit));
    bytes = lowest_set(bytes, address_space_limit());
    return lowest_set(bytes, env_limit());
}

// The process's address space and resident size, in bytes (0 where unknown).
struct Footprint {
    double virtual_bytes = 0.0, resident_bytes = 0.0;
};

Footprint footprint() {
    std::ifstream f("/proc/self/statm");
    double size = 0.0, resident = 0.0;
    if (!(f >> size >> resident)) return {};
    const double page = static_cast<double>(sysconf(_SC_PAGE_SIZE));
    return {size * page, resident * page};
}

double mem_available() {
    std::ifstream f("/proc/meminfo");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("MemAvailable:", 0) != 0) continue;
        std::istringstream in(line.substr(13));
        double kb = 0.0;
        return in >> kb ? kb * 1024.0 : kUnknown;
    }
    return kUnknown;
}

double cgroup_available() {
    double best = kUnknown;
    for (const GroupFiles& g : groups()) {
        const double limit = read_number(g.limit);
        if (limit <= 0.0) continue;
        const double used = read_number(g.usage) - read_stat(g.stat, g.inactive_key);
        best = std::min(best, limit - std::max(used, 0.0));
    }
    return best;
}

// The claims in flight: their total, their number, and the process's footprint when the
// first of them began (what the process has grown by since is what they have taken).
struct Claims {
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> count{0};
    std::atomic<double> resident_at_start{0.0}, virtual_at_start{0.0};
};

// Bytes claimed by the live claims made on this thread. A claim made inside another one on
// the same thread (the path set of an engine that claimed paths and network together) is
// part of it: it is neither counted again nor counted against itself.
thread_local double t_held = 0.0;

// Never destroyed: a computation may still release a claim while the process exits. Atomic
// counters, no lock, so a fork() in the middle of a claim leaves nothing held.
Claims& claims() {
    static Claims* c = new Claims;
    return *c;
}

// Bytes the process can still get beside `others`, the bytes claimed by other computations.
double available_beside(double others, const Footprint& now) {
    const Claims& c = claims();
    const auto untaken = [&](double grown) { return std::max(others - std::max(grown, 0.0), 0.0); };
    double physical = std::min(mem_available(), cgroup_available());
    if (env_limit() > 0.0) physical = std::min(physical, env_limit() - now.resident_bytes);
    physical -= untaken(now.resident_bytes - c.resident_at_start.load(std::memory_order_relaxed));
    double address = kUnknown;
    if (const double limit = address_space_limit(); limit > 0.0)
        address = limit - now.virtual_bytes - untaken(now.virtual_bytes - c.virtual_at_start.load(std::memory_order_relaxed));
    return std::min(physical, address);
}

// "23.4 GB", "2.4 TB", ... with one decimal; beyond exabytes in exponent form.
std::string gigabytes(double bytes) {
    static constexpr const char* kUnits[] = {"GB", "TB", "PB", "EB"};
    double v = std::max(bytes, 0.0) / 1e9;
    std::size_t u = 0;
    while (v >= 1000.0 && u + 1 < std::size(kUnits)) {
        v /= 1000.0;
        ++u;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, v < 1000.0 ? "%.1f %s" : "%.3g %s", v, kUnits[u]);
    return buf;
}

std::uint64_t as_count(double bytes) {
    return bytes >= 1.8e19 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(bytes);
}

}  // namespace

double usable_memory_bytes() {
    static const double bytes = measure();
    return bytes;
}

double available_memory_bytes() {
    return available_beside(static_cast<double>(claims().bytes.load(std::memory_order_relaxed)), footprint());
}

MemoryClaim& MemoryClaim::operator=(MemoryClaim&& o) noexcept {
    if (this != &o) {
        release();
        bytes_ = o.bytes_;
        o.bytes_ = 0.0;
    }
    return *this;
}

void MemoryClaim::release() {
    if (bytes_ <= 0.0) return;
    t_held -= bytes_;
    Claims& c = claims();
    c.bytes.fetch_sub(as_count(bytes_), std::memory_order_relaxed);
    c.count.fetch_sub(1, std::memory_order_relaxed);
    bytes_ = 0.0;
}

Result<MemoryClaim> claim_memory(double bytes, const char* what) {
    if (!(bytes > kAlwaysFits)) return MemoryClaim{};
    const double usable = usable_memory_bytes();
    if (usable > 0.0 && bytes > usable)
        return out_of_memory("cannot allocate " + gigabytes(bytes) + " for " + what + ": the process can use at most " +
                             gigabytes(usable));
    if (bytes <= t_held) return MemoryClaim{};  // inside a larger claim of this thread
    // Counted first and checked after: of two claims made at the same moment, each sees the
    // other, so they cannot both take the same free memory.
    const Footprint now = footprint();
    Claims& c = claims();
    const std::uint64_t mine = as_count(bytes);
    if (c.count.fetch_add(1, std::memory_order_relaxed) == 0) {
        c.resident_at_start.store(now.resident_bytes, std::memory_order_relaxed);
        c.virtual_at_start.store(now.virtual_bytes, std::memory_order_relaxed);
    }
    const double before = static_cast<double>(c.bytes.fetch_add(mine, std::memory_order_relaxed));
    const double others = std::max(before - t_held, 0.0);
    t_held += bytes;
    MemoryClaim claim(bytes);
    const double available = available_beside(others, now);
    if (bytes <= available) return claim;
    std::string text = "cannot allocate " + gigabytes(bytes) + " for " + what + ": only " + gigabytes(available) +
                       " is available";
    if (others > 0.0) text += " beside the " + gigabytes(others) + " claimed by computations in progress";
    return out_of_memory(std::move(text));
}

Status check_fits_in_memory(double bytes, const char* what) {
    QUELM_TRY(claim, claim_memory(bytes, what));
    (void)claim;
    return {};
}

std::string allocation_failure_message() {
    const double available = available_memory_bytes();
    if (!std::isfinite(available)) return "out of memory: an allocation failed";
    return "out of memory: an allocation failed with " + gigabytes(available) + " available";
}

}  // namespace quelm
