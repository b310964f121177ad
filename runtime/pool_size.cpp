#include "runtime/pool_size.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace quelmar::runtime {
namespace {

// Processors granted by a cgroup CPU quota (v2 "cpu.max", or v1
// "cpu.cfs_quota_us" / "cpu.cfs_period_us"), taken as quota / period rounded
// down and at least 1. The tightest limit along the cgroup path wins.
std::optional<std::size_t> cgroup_quota_cpus() {
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    std::optional<std::size_t> best;
    auto consider = [&](double quota, double period) {
        if (quota <= 0 || period <= 0) return;
        auto cpus = static_cast<std::size_t>(std::max(1.0, quota / period));
        best = best ? std::min(*best, cpus) : cpus;
    };
    while (std::getline(self, line)) {
        // hierarchy-id:controllers:path
        auto first = line.find(':');
        auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        bool v2 = line.compare(0, first, "0") == 0 && controllers.empty();
        bool v1 = controllers.find("cpu") != std::string::npos &&
                  controllers.find("cpuset") == std::string::npos;
        if (!v1 && !v2) continue;
        for (std::string dir = path;; dir = dir.substr(0, dir.rfind('/'))) {
            if (v2) {
                std::ifstream max_file("/sys/fs/cgroup" + dir + "/cpu.max");
                std::string quota;
                double period = 0;
                if (max_file >> quota >> period && quota != "max") {
                    consider(std::atof(quota.c_str()), period);
                }
            } else {
                std::string base = "/sys/fs/cgroup/" + controllers + dir;
                std::ifstream quota_file(base + "/cpu.cfs_quota_us");
                std::ifstream period_file(base + "/cpu.cfs_period_us");
                double quota = 0, period = 0;
                if (quota_file >> quota && period_file >> period) consider(quota, period);
            }
            if (dir.empty() || dir == "/") break;
        }
    }
    return best;
}

std::size_t affinity_or_online_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<std::size_t>(count);
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : 1;
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned_env(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t resolve_pool_size(std::size_t requested, const char* num_threads_env,
                              const char* num_cpus_env, std::size_t available) noexcept {
    if (requested > 0) return requested;
    if (num_threads_env) {
        if (auto threads = parse_unsigned_env(num_threads_env)) {
            return *threads > 0 ? static_cast<std::size_t>(*threads) : available;
        }
    }
    if (num_cpus_env) {
        if (auto cpus = parse_unsigned_env(num_cpus_env); cpus && *cpus > 0) {
            return static_cast<std::size_t>(*cpus);
        }
    }
    return available;
}

std::size_t available_parallelism() noexcept {
    try {
        std::size_t cpus = affinity_or_online_cpus();
        if (auto quota = cgroup_quota_cpus()) cpus = std::min(cpus, *quota);
        return std::max<std::size_t>(cpus, 1);
    } catch (...) {
        return 1;
    }
}

std::size_t pool_size_for(std::size_t requested) noexcept {
    if (requested > 0) return requested;
    return resolve_pool_size(0, std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                             available_parallelism());
}

}  // namespace quelmar::runtime
