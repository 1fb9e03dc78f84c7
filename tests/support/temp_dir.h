// A fresh folder per test, and small helpers for files in it as raw bytes.
#ifndef PELMORA_TEST_TEMP_DIR_H
#define PELMORA_TEST_TEMP_DIR_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

std::filesystem::path MakeTempDir();

// Writes exactly these bytes; no text-mode translation. A path given as a
// string is taken as the program takes it, in the ANSI code page, unchanged.
void WriteBytes(const std::string &path, const std::string &bytes);
void WriteBytes(const std::filesystem::path &path, const std::string &bytes);
// The file's bytes, or nothing when it cannot be opened.
std::optional<std::string> ReadBytes(const std::string &path);
std::optional<std::string> ReadBytes(const std::filesystem::path &path);
// A file of the given size whose bytes are all zero, stored sparse where the
// file system can, so even 4 GiB costs no disk space.
void MakeSparseFile(const std::filesystem::path &path, uint64_t size);

// The path as the program's 8-bit API takes it.
std::string Narrow(const std::filesystem::path &path);

#endif
