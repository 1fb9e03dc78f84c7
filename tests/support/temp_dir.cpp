#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

namespace fs = std::filesystem;

fs::path MakeTempDir()
{
    static std::mt19937_64 random(
        (uint64_t)std::chrono::high_resolution_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("pelmora-test-" + std::to_string(random() % 100000000));
        std::error_code error;
        if (fs::create_directory(candidate, error))
            return candidate;
    }
    ADD_FAILURE() << "cannot make a temporary folder";
    return fs::temp_directory_path();
}

void WriteBytes(const fs::path &path, const std::string &bytes)
{
    WriteBytes(Narrow(path), bytes);
}

std::optional<std::string> ReadBytes(const fs::path &path)
{
    return ReadBytes(Narrow(path));
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
}

std::optional<std::string> ReadBytes(const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string bytes;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

void MakeSparseFile(const fs::path &path, uint64_t size)
{
    WriteBytes(path, "");
    fs::resize_file(path, size);
}

std::string Narrow(const fs::path &path)
{
    return path.string();
}
