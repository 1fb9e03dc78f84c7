// Throughput of the line-ending transforms next to memcpy of the same bytes,
// and of a whole file conversion next to its floor: one read into a fresh
// buffer, a fresh output buffer filled by memcpy, one write.
//
//   build/host/bench/pelmora_bench            (Google Benchmark's own flags work)
//   PELMORA_BENCH_MIB=64 build/host/bench/pelmora_bench   smaller buffers
#include "conversion.h"
#include "line_endings.h"
#include "line_endings_impl.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// The same ~40-character lines as bytes and as UTF-16LE (with its mark),
// each filling the same number of bytes.
enum Corpus { kText40, kLines4000, kUtf16Text40 };
enum Form { kWindowsForm, kUnixForm };

const char *CorpusName(int corpus)
{
    return corpus == kText40 ? "text40" : corpus == kLines4000 ? "lines4000" : "utf16-text40";
}

TextEncoding EncodingOf(int corpus)
{
    return corpus == kUtf16Text40 ? kUtf16Le : kBytes;
}

size_t BufferSize()
{
    const char *mib = std::getenv("PELMORA_BENCH_MIB");
    return (size_t)(mib != nullptr ? std::atoi(mib) : 256) << 20;
}

// Lines of printable text with a few characters >= 0x80, as in accented
// text; in UTF-16 a few are from further up the Basic Multilingual Plane.
std::vector<unsigned char> MakeText(int corpus, int form)
{
    std::mt19937 random(corpus * 2 + form + 1);
    const size_t size = BufferSize();
    const int meanLine = corpus == kLines4000 ? 4000 : 40;
    const size_t unit = corpus == kUtf16Text40 ? 2 : 1;
    std::vector<unsigned char> text;
    text.reserve(size);
    const auto put = [&](unsigned code) {
        if (text.size() + unit > size)
            return;
        text.push_back((unsigned char)code);
        if (unit == 2)
            text.push_back((unsigned char)(code >> 8));
    };
    if (unit == 2)
        put(0xFEFF);
    while (text.size() + unit <= size) {
        const int length = meanLine / 2 + (int)(random() % (unsigned)meanLine);
        for (int i = 0; i < length; ++i) {
            const unsigned r = random() % 100;
            if (unit == 2 && r == 0)
                put(0x0400 + random() % 0x2000);
            else
                put(r < 3 ? 0xC0 + random() % 0x3F : 0x20 + random() % 0x5F);
        }
        if (form == kWindowsForm)
            put('\r');
        put('\n');
    }
    return text;
}

// One corpus at a time: the 32-bit build cannot hold them all at once.
struct Buffers {
    int key = -1;
    std::vector<unsigned char> source;
    std::vector<unsigned char> output;
};
Buffers g_buffers;

const std::vector<unsigned char> &Source(int corpus, int form)
{
    const int key = corpus * 2 + form;
    if (g_buffers.key != key) {
        g_buffers.source.clear();
        g_buffers.source.shrink_to_fit();
        g_buffers.source = MakeText(corpus, form);
        // Written once so that page faults do not count against anyone.
        g_buffers.output.assign(g_buffers.source.size() * 2 + 64, 0);
        g_buffers.key = key;
    }
    return g_buffers.source;
}

// Best throughput per benchmark, for the summary that compares them.
std::map<std::string, double> g_best;

void Record(const std::string &name, double bytes, double seconds)
{
    double &best = g_best[name];
    best = std::max(best, bytes / seconds);
}

const LineEndingImplementation kDispatched = {"dispatched", CountCrLfPairs, TransformWindowsToUnix, CountLineFeeds,
                                              TransformUnixToWindows};
const LineEndingImplementation *const kImplementations[] = {&kDispatched, &kScalarLineEndings, &kSse2LineEndings};

std::string Name(const char *what, int corpus, const char *how = nullptr)
{
    std::string name = std::string(what) + "/" + CorpusName(corpus);
    if (how != nullptr)
        name += std::string("/") + how;
    return name;
}

template <int Corpus> void Memcpy(benchmark::State &state)
{
    const auto &source = Source(Corpus, kWindowsForm);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(g_buffers.output.data(), source.data(), source.size());
        benchmark::ClobberMemory();
        Record(Name("memcpy", Corpus), (double)source.size(),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)source.size());
}

// Direction 0 is Windows to Unix, 1 is Unix to Windows; the input is in the
// form that direction reads. Count and transform together, as a conversion.
template <int Corpus, int Direction, int Impl> void Transform(benchmark::State &state)
{
    const auto &source = Source(Corpus, Direction == 0 ? kWindowsForm : kUnixForm);
    const LineEndingImplementation &impl = *kImplementations[Impl];
    const TextEncoding encoding = EncodingOf(Corpus);
    const uint32_t size = (uint32_t)source.size();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // Not const: Google Benchmark 1.9 deprecates DoNotOptimize of a const
        // value, which the compiler may still fold away.
        uint32_t count = Direction == 0 ? impl.countCrLfPairs(encoding, source.data(), size)
                                        : impl.countLineFeeds(encoding, source.data(), size);
        (Direction == 0 ? impl.windowsToUnix : impl.unixToWindows)(encoding, source.data(), size,
                                                                    g_buffers.output.data());
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
        Record(Name(Direction == 0 ? "to-unix" : "to-windows", Corpus, impl.name), (double)size,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)size);
}

// The counting pass alone: it reads the whole source once, so with memcpy it
// bounds what counting and transforming together can reach.
template <int Corpus, int Direction> void CountOnly(benchmark::State &state)
{
    const auto &source = Source(Corpus, Direction == 0 ? kWindowsForm : kUnixForm);
    const uint32_t size = (uint32_t)source.size();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        uint32_t count = Direction == 0 ? CountCrLfPairs(EncodingOf(Corpus), source.data(), size)
                                        : CountLineFeeds(EncodingOf(Corpus), source.data(), size);
        benchmark::DoNotOptimize(count);
        Record(Name(Direction == 0 ? "to-unix" : "to-windows", Corpus, "count only"), (double)size,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)size);
}

std::string g_fileSource;
std::string g_fileDestination;

void PrepareFiles()
{
    if (!g_fileSource.empty())
        return;
    const auto dir = std::filesystem::temp_directory_path();
    g_fileSource = (dir / "pelmora-bench-source.txt").string();
    g_fileDestination = (dir / "pelmora-bench-output.txt").string();
    const auto &text = Source(kText40, kWindowsForm);
    FILE *file = std::fopen(g_fileSource.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::remove(g_fileDestination.c_str());
    // The conversion allocates its own buffers; a 32-bit process has no room
    // to keep these as well.
    g_buffers = Buffers();
}

// What any whole-file conversion must at least do.
void CopyFileFloor(const char *sourcePath, const char *destinationPath)
{
    HANDLE source = CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_ARCHIVE, NULL);
    DWORD high = 0;
    const DWORD size = GetFileSize(source, &high);
    unsigned char *input = (unsigned char *)std::malloc((size_t)size + 1);
    unsigned char *output = (unsigned char *)std::malloc((size_t)size + 1);
    if (input == NULL || output == NULL) {
        std::fprintf(stderr, "the floor's buffers do not fit in memory\n");
        std::exit(1);
    }
    DWORD transferred = 0;
    ReadFile(source, input, size, &transferred, NULL);
    std::memcpy(output, input, size);
    HANDLE destination = CreateFileA(destinationPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                     FILE_ATTRIBUTE_ARCHIVE, NULL);
    WriteFile(destination, output, size, &transferred, NULL);
    std::free(input);
    std::free(output);
    CloseHandle(source);
    CloseHandle(destination);
}

// The floor and the conversion take turns, so that both meet the same state
// of the page cache and its write-back; the best of each is compared.
void WholeFile(benchmark::State &state)
{
    PrepareFiles();
    const double size = (double)BufferSize();
    for (auto _ : state) {
        for (int which = 0; which < 2; ++which) {
            const auto start = std::chrono::steady_clock::now();
            if (which == 0)
                CopyFileFloor(g_fileSource.c_str(), g_fileDestination.c_str());
            else
                ConvertWindowsToUnix(g_fileSource.c_str(), g_fileDestination.c_str());
            Record(which == 0 ? "file/text40/floor" : "file/text40/convert", size,
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            std::remove(g_fileDestination.c_str());
        }
    }
    state.SetBytesProcessed((int64_t)((double)state.iterations() * size * 2));
}

#define TRANSFORMS(corpus)                                                                                    \
    BENCHMARK(Memcpy<corpus>)->Unit(benchmark::kMillisecond)->UseRealTime();                                  \
    BENCHMARK((CountOnly<corpus, 0>))->Unit(benchmark::kMillisecond)->UseRealTime();                          \
    BENCHMARK((Transform<corpus, 0, 0>))->Unit(benchmark::kMillisecond)->UseRealTime();                       \
    BENCHMARK((Transform<corpus, 0, 1>))->Unit(benchmark::kMillisecond)->UseRealTime();                       \
    BENCHMARK((Transform<corpus, 0, 2>))->Unit(benchmark::kMillisecond)->UseRealTime();                       \
    BENCHMARK((CountOnly<corpus, 1>))->Unit(benchmark::kMillisecond)->UseRealTime();                          \
    BENCHMARK((Transform<corpus, 1, 0>))->Unit(benchmark::kMillisecond)->UseRealTime();                       \
    BENCHMARK((Transform<corpus, 1, 1>))->Unit(benchmark::kMillisecond)->UseRealTime();                       \
    BENCHMARK((Transform<corpus, 1, 2>))->Unit(benchmark::kMillisecond)->UseRealTime()

TRANSFORMS(kText40);
TRANSFORMS(kLines4000);
TRANSFORMS(kUtf16Text40);
BENCHMARK(WholeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

void PrintSummary()
{
    std::printf("\nBest throughput, GB/s, and ratio to the reference (memcpy, or the file floor):\n");
    for (int corpus : {kText40, kLines4000, kUtf16Text40}) {
        const double copy = g_best[Name("memcpy", corpus)];
        if (copy == 0)
            continue;
        std::printf("  %-36s %6.2f\n", Name("memcpy", corpus).c_str(), copy / 1e9);
        for (const char *direction : {"to-unix", "to-windows"}) {
            for (const LineEndingImplementation *impl : kImplementations) {
                const double rate = g_best[Name(direction, corpus, impl->name)];
                if (rate > 0)
                    std::printf("  %-36s %6.2f   %.2f x memcpy\n", Name(direction, corpus, impl->name).c_str(),
                                rate / 1e9, rate / copy);
            }
            // Bytes of UTF-16 against bytes of the same lines as bytes.
            const double bytes = g_best[Name(direction, kText40, "dispatched")];
            const double units = g_best[Name(direction, corpus, "dispatched")];
            if (corpus == kUtf16Text40 && bytes > 0 && units > 0)
                std::printf("  %-36s          %.2f x the byte transform's throughput\n",
                            Name(direction, corpus, "dispatched").c_str(), units / bytes);
            // Counting plus a transform as fast as memcpy: the best two passes can do.
            const double count = g_best[Name(direction, corpus, "count only")];
            if (count > 0)
                std::printf("  %-36s %6.2f   (count + memcpy would be %.2f x memcpy)\n",
                            Name(direction, corpus, "count only").c_str(), count / 1e9, count / (count + copy));
        }
    }
    const double floor = g_best["file/text40/floor"];
    const double convert = g_best["file/text40/convert"];
    if (floor > 0 && convert > 0)
        std::printf("  %-36s %6.2f\n  %-36s %6.2f   %.3f x the floor's time\n", "file/text40/floor", floor / 1e9,
                    "file/text40/convert", convert / 1e9, floor / convert);
    std::printf("  dispatched transforms: %s\n", DispatchedLineEndings()->name);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    if (!g_fileSource.empty())
        std::remove(g_fileSource.c_str());
    return 0;
}
