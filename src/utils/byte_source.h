#pragma once
// Where loaders get their bytes from. FileSource reads a POSIX file descriptor
// directly, so a failed open or read keeps its errno and reports it as
// "<description> (os error N)". MemorySource serves bytes already in memory,
// optionally in small pieces (to exercise a reader's buffer boundaries).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/result.h"

namespace quelmar {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads at most `capacity` bytes into `buffer`; 0 means end of input.
    // On failure the error message is the operating system's error text.
    virtual Result<std::size_t> read(char* buffer, std::size_t capacity) = 0;
};

// An open file, closed when the object is destroyed.
class FileSource final : public ByteSource {
public:
    static Result<FileSource> open(const std::string& path);

    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&& other) noexcept;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;

    Result<std::size_t> read(char* buffer, std::size_t capacity) override;

private:
    explicit FileSource(int fd) : fd_(fd) {}
    int fd_ = -1;
};

class MemorySource final : public ByteSource {
public:
    // `data` must outlive the source. Each read returns at most `max_piece`
    // bytes.
    explicit MemorySource(std::string_view data, std::size_t max_piece = SIZE_MAX)
        : data_(data), max_piece_(max_piece == 0 ? 1 : max_piece) {}

    Result<std::size_t> read(char* buffer, std::size_t capacity) override;

private:
    std::string_view data_;
    std::size_t max_piece_;
    std::size_t position_ = 0;
};

}  // namespace quelmar
