#include "benchmark/benchmark.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace benchmark {

#if defined(_MSC_VER)
const volatile void *g_doNotOptimizeSink = nullptr;
#endif

struct Entry {
    const char *name;
    Function function;
    Registration registration;
};

static std::vector<Entry> &Entries()
{
    static std::vector<Entry> entries;
    return entries;
}

static std::string g_filter;

Registration *RegisterBenchmark(const char *name, Function function)
{
    Entries().reserve(64);
    Entries().push_back(Entry{name, function, Registration()});
    return &Entries().back().registration;
}

void Initialize(int *argc, char **argv)
{
    for (int i = 1; i < *argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0)
            g_filter = argv[i] + 19;
}

void RunSpecifiedBenchmarks()
{
    std::printf("%-40s %12s %12s\n", "Benchmark", "Time", "Throughput");
    for (const Entry &entry : Entries()) {
        if (!g_filter.empty() && std::string(entry.name).find(g_filter) == std::string::npos)
            continue;
        double best = 1e30;
        double bytesPerSecond = 0;
        double spent = 0;
        for (int runs = 0; runs < 3 || spent < entry.registration.minTime; ++runs) {
            State state(1);
            const auto start = std::chrono::steady_clock::now();
            entry.function(state);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            spent += seconds;
            if (seconds < best) {
                best = seconds;
                bytesPerSecond = (double)state.bytes() / seconds;
            }
        }
        std::printf("%-40s %9.1f ms %9.2f GB/s\n", entry.name, best * 1e3, bytesPerSecond / 1e9);
    }
}

void Shutdown()
{
}

} // namespace benchmark
