// The part of Google Benchmark's interface that the benchmarks use, for
// targets where the library is not available. Each benchmark runs its loop
// at least three times and for at least half a second (or its MinTime), and
// prints the best time and throughput seen.
#ifndef PELMORA_MINI_BENCHMARK_H
#define PELMORA_MINI_BENCHMARK_H

#include <cstdint>
#include <string>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace benchmark {

class State {
public:
    explicit State(int64_t iterations) : remaining_(iterations), iterations_(iterations) {}
    struct Value {
        Value() {}
        ~Value() {}
    };
    struct Iterator {
        State *state;
        bool operator!=(const Iterator &) const { return state->remaining_ > 0; }
        void operator++() { --state->remaining_; }
        Value operator*() const { return Value(); }
    };
    Iterator begin() { return Iterator{this}; }
    Iterator end() { return Iterator{this}; }
    void SetBytesProcessed(int64_t bytes) { bytes_ = bytes; }
    void SetLabel(const std::string &label) { label_ = label; }
    int64_t iterations() const { return iterations_; }
    int64_t bytes() const { return bytes_; }
    const std::string &label() const { return label_; }

private:
    int64_t remaining_;
    int64_t iterations_;
    int64_t bytes_ = 0;
    std::string label_;
};

typedef void (*Function)(State &);

struct Registration {
    Registration *Unit(int) { return this; }
    Registration *UseRealTime() { return this; }
    Registration *MinTime(double seconds) { minTime = seconds; return this; }
    double minTime = 0.5;
};
Registration *RegisterBenchmark(const char *name, Function function);

enum { kMillisecond = 0 };

#if defined(_MSC_VER)
// cl has no inline assembly on x64 and no "memory" clobber; a volatile store
// of the address and a compiler barrier do the same work.
extern const volatile void *g_doNotOptimizeSink;
template <class T> inline void DoNotOptimize(T const &value)
{
    g_doNotOptimizeSink = &value;
    _ReadWriteBarrier();
}
inline void ClobberMemory()
{
    _ReadWriteBarrier();
}
#else
template <class T> inline void DoNotOptimize(T const &value)
{
    asm volatile("" : : "r,m"(value) : "memory");
}
inline void ClobberMemory()
{
    asm volatile("" : : : "memory");
}
#endif

void Initialize(int *argc, char **argv);
void RunSpecifiedBenchmarks();
void Shutdown();

} // namespace benchmark

#define BENCHMARK_NAME_(a, b) a##b
#define BENCHMARK_NAME(a, b) BENCHMARK_NAME_(a, b)
#define BENCHMARK(function)                                                                                   \
    static ::benchmark::Registration *BENCHMARK_NAME(registration_, __COUNTER__) =                               \
        ::benchmark::RegisterBenchmark(#function, function)

#endif
