#include "src/utils/byte_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace quelmar::utils {
namespace {

std::string read_all(ByteSource& source, std::size_t buffer_size) {
    std::string out;
    std::string buffer(buffer_size, '\0');
    for (;;) {
        auto got = source.read(buffer.data(), buffer.size());
        EXPECT_TRUE(got.ok());
        if (!got.ok() || got.value() == 0) return out;
        out.append(buffer.data(), got.value());
    }
}

TEST(FileSource, MissingFileGivesTheOsError) {
    auto file = FileSource::open("/nonexistent/quelmar/file.txt");
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error().message(), "No such file or directory (os error 2)");
}

TEST(FileSource, ReadingADirectoryFailsWithItsOsError) {
    auto dir = FileSource::open(std::filesystem::temp_directory_path().string());
    ASSERT_TRUE(dir.ok());
    char byte;
    auto got = dir.value().read(&byte, 1);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error().message(), "Is a directory (os error 21)");
}

TEST(FileSource, ReadsTheWholeFile) {
    const std::string path = ::testing::TempDir() + "/byte_source_test.txt";
    std::string content(100000, 'x');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    auto file = FileSource::open(path);
    ASSERT_TRUE(file.ok());
    FileSource moved = std::move(file.value());
    EXPECT_EQ(read_all(moved, 4096), content);
}

TEST(MemorySource, ServesPiecesNoLargerThanAsked) {
    MemorySource source("abcdefg", 3);
    char buffer[8];
    EXPECT_EQ(source.read(buffer, 8).value(), 3u);
    EXPECT_EQ(source.read(buffer, 2).value(), 2u);
    EXPECT_EQ(std::string(buffer, 2), "de");
    EXPECT_EQ(source.read(buffer, 8).value(), 2u);
    EXPECT_EQ(source.read(buffer, 8).value(), 0u);
}

}  // namespace
}  // namespace quelmar::utils
