#include "src/base/line_chunks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "src/base/line_blocks.h"

namespace quelmar::base {
namespace {

// What the loaders see of one line, or the reader's failure.
struct Outcome {
    Outcome(int count = 0, std::string first = {}, std::string second = {})
        : count(count), first(std::move(first)), second(std::move(second)) {}
    static Outcome failed(std::string error) {
        Outcome outcome;
        outcome.error = std::move(error);
        return outcome;
    }

    std::string error;
    int count;
    std::string first, second;  // each token as written, or the parser's message

    bool operator==(const Outcome&) const = default;
};

std::string describe(const NumberToken& token) {
    if (!token.valid()) return std::string(token.error_message());
    return token.as_written();
}

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    if (!o.error.empty()) return out << "error(" << o.error << ")";
    return out << o.count << ":[" << o.first << "][" << o.second << "]";
}

Outcome outcome_of(const LineTokens& tokens) {
    Outcome line(tokens.count);
    if (tokens.count > 0) line.first = describe(tokens.first);
    if (tokens.count > 1) line.second = describe(tokens.second);
    return line;
}

// The lines as the loaders see them: pieces of whole lines cut into blocks of
// `block_size`, up to the first line that is not valid UTF-8.
// With `ahead`, the next piece is read before the current one is parsed, as
// the loaders do.
std::vector<Outcome> read_lines(utils::ByteSource& source, std::size_t buffer_size,
                                std::size_t block_size = 1 << 16, bool ahead = false) {
    LineChunkReader reader(source, buffer_size);
    std::vector<Outcome> lines;
    auto take = [&](const LineTokens* tokens) {
        lines.push_back(tokens ? outcome_of(*tokens) : Outcome::failed(kInvalidUtf8));
        return tokens != nullptr;
    };
    for (;;) {
        auto piece = reader.next();
        if (!piece) {
            lines.push_back(Outcome::failed(piece.error().message()));
            return lines;
        }
        const LineChunkReader::Piece& got = piece.value();
        if (got.at_end()) return lines;
        if (ahead) reader.read_ahead();
        if (got.long_line) {
            if (!take(got.long_line_valid ? &got.long_line_tokens : nullptr)) return lines;
            continue;
        }
        for (const TextBlock block : cut_into_blocks(got.lines, block_size)) {
            for_each_line(block, take);
            if (!lines.empty() && !lines.back().error.empty()) return lines;
        }
    }
}

std::vector<Outcome> read_lines(const std::string& input, std::size_t buffer_size = 1 << 16,
                                std::size_t piece = SIZE_MAX, std::size_t block_size = 1 << 16,
                                bool ahead = false) {
    utils::MemorySource source(input, piece);
    return read_lines(source, buffer_size, block_size, ahead);
}

Outcome one_line(const std::string& line) {
    auto lines = read_lines(line);
    EXPECT_EQ(lines.size(), 1u) << line;
    return lines.empty() ? Outcome{} : lines.front();
}

const std::string kInvalidDigit = "invalid digit found in string";
const std::string kTooLarge = "number too large to fit in target type";

TEST(LineChunks, LineBoundaries) {
    EXPECT_TRUE(read_lines("").empty());
    EXPECT_EQ(read_lines("1 2\n").size(), 1u);
    EXPECT_EQ(read_lines("1 2\n\n"), (std::vector<Outcome>{{2, "1", "2"}, {0}}));
    EXPECT_EQ(read_lines("1 2\r\n3 4"), (std::vector<Outcome>{{2, "1", "2"}, {2, "3", "4"}}));
    EXPECT_EQ(read_lines(" \t "), (std::vector<Outcome>{{0}}));
    EXPECT_EQ(one_line("\t 7   9  \r"), (Outcome{2, "7", "9"}));
    EXPECT_EQ(one_line("5"), (Outcome{1, "5"}));
    EXPECT_EQ(one_line("1 2 3.5 foo"), (Outcome{2, "1", "2"}));
}

TEST(LineChunks, EveryUnicodeWhiteSpaceSeparates) {
    const char* spaces[] = {"\t",           "\n",           "\v",
                            "\f",           "\r",           " ",
                            "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80",
                            "\xE2\x80\x80", "\xE2\x80\x85", "\xE2\x80\x8A",
                            "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
                            "\xE2\x81\x9F", "\xE3\x80\x80"};
    for (const std::string space : spaces) {
        if (space == "\n") continue;
        EXPECT_EQ(one_line(space + "12" + space + space + "34" + space), (Outcome{2, "12", "34"}))
            << "U+" << space;
    }
}

TEST(LineChunks, OtherCharactersBelongToTokens) {
    // Zero-width space, Mongolian vowel separator, information separator: not
    // white space, so they make the token invalid.
    for (const std::string other : {"\xE2\x80\x8B", "\xE1\xA0\x8E", "\x1C", "\xC3\xA9"}) {
        EXPECT_EQ(one_line("12" + other + " 34"), (Outcome{2, kInvalidDigit, "34"}));
        EXPECT_EQ(one_line("12 34 x" + other), (Outcome{2, "12", "34"}));
    }
}

TEST(LineChunks, NumberTokens) {
    EXPECT_EQ(one_line("+3 007").first, "+3");
    EXPECT_EQ(one_line("+3 007").second, "007");
    EXPECT_EQ(one_line("0000 0").first, "0000");
    EXPECT_EQ(one_line("+ 1").first, kInvalidDigit);
    EXPECT_EQ(one_line("++1 1").first, kInvalidDigit);
    EXPECT_EQ(one_line("-1 1").first, kInvalidDigit);
    EXPECT_EQ(one_line("1+ 1").first, kInvalidDigit);
    EXPECT_EQ(one_line("18446744073709551615 1").first, "18446744073709551615");
    EXPECT_EQ(one_line("00018446744073709551615 1").first, "00018446744073709551615");
    EXPECT_EQ(one_line("18446744073709551616 1").first, kTooLarge);
    EXPECT_EQ(one_line("184467440737095516150 1").first, kTooLarge);
    // The first faulty character decides.
    EXPECT_EQ(one_line("18446744073709551615x 1").first, kInvalidDigit);
    EXPECT_EQ(one_line("99999999999999999999x 1").first, kTooLarge);
    EXPECT_EQ(one_line("1x99999999999999999999 1").first, kInvalidDigit);
}

TEST(LineChunks, InvalidUtf8AnywhereInTheLineFails) {
    const char* broken[] = {
        "\xC0\x80", "\xC1\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
        "\xE2\x82", "\x80",     "\xFF",         "\xE0\x9F\xBF",     "\xF0\x8F\xBF\xBF"};
    for (const std::string bytes : broken) {
        EXPECT_EQ(
            read_lines("1 2\n3 4 " + bytes + "\n5 6\n"),
            (std::vector<Outcome>{{2, "1", "2"}, Outcome::failed(std::string(kInvalidUtf8))}));
        EXPECT_EQ(read_lines(bytes),
                  (std::vector<Outcome>{Outcome::failed(std::string(kInvalidUtf8))}));
        // An earlier line's own fault is still seen first by the loader.
        EXPECT_EQ(read_lines("1\n" + bytes).front(), (Outcome{1, "1"}));
    }
    // The largest code point and the edges of the surrogate gap are fine.
    EXPECT_EQ(one_line("1 2 \xF4\x8F\xBF\xBF \xED\x9F\xBF \xEE\x80\x80"), (Outcome{2, "1", "2"}));
}

TEST(LineChunks, HugeLineIsReadInConstantMemory) {
    const std::string zeros(3'000'000, '0');
    const std::string input = "+" + zeros + "7 8 " + std::string(100'000, 'x') + "\n1 2";
    for (std::size_t buffer : {std::size_t{16}, std::size_t{1} << 16}) {
        auto lines = read_lines(input, buffer);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].first, "+" + zeros + "7");
        EXPECT_EQ(lines[0].second, "8");
        EXPECT_EQ(lines[1], (Outcome{2, "1", "2"}));
    }
}

// Serves some bytes, then fails like a broken disk.
class FailingSource final : public utils::ByteSource {
public:
    explicit FailingSource(std::string data) : data_(std::move(data)) {}
    runtime::Result<std::size_t> read(char* buffer, std::size_t capacity) override {
        if (served_) return runtime::Error(runtime::os_error_text(EIO));
        served_ = true;
        const std::size_t count = std::min(capacity, data_.size());
        std::copy_n(data_.data(), count, buffer);
        return count;
    }

private:
    std::string data_;
    bool served_ = false;
};

TEST(LineChunks, ReadFailureWinsOverTheUnfinishedLine) {
    // Reading ahead, the failure comes while the first line is parsed.
    for (const bool ahead : {false, true}) {
        FailingSource source("1 2\n3 \xFF");
        EXPECT_EQ(read_lines(source, ahead ? 4 : 1 << 16, 1 << 16, ahead),
                  (std::vector<Outcome>{{2, "1", "2"},
                                        Outcome::failed("Input/output error (os error 5)")}));
    }
}

// Random lines of every kind read the same whatever the buffer and piece
// sizes, and with reading ahead, so the ASCII fast path and the piecewise
// path agree.
TEST(LineChunks, BufferSizeNeverChangesTheOutcome) {
    std::mt19937_64 random(12345);
    const std::vector<std::string> parts{
        " ",     "\t",   "\r",       "\xC2\xA0", "\xE3\x80\x80", "0",
        "7",     "+",    "-",        "x",        "\xC3\xA9",     "18446744073709551615",
        "99999", "\xFF", "\xE2\x82", "\n"};
    for (int round = 0; round < 300; ++round) {
        std::string input;
        const int length = std::uniform_int_distribution<int>(0, 60)(random);
        for (int i = 0; i < length; ++i) {
            std::size_t pick =
                std::uniform_int_distribution<std::size_t>(0, parts.size() - 1)(random);
            // Keep broken UTF-8 rare so that most inputs get far.
            if ((pick == 13 || pick == 14) && random() % 4 != 0) pick = 0;
            input += parts[pick];
        }
        const auto expected = read_lines(input);
        for (std::size_t buffer : {1, 2, 3, 5, 8, 13}) {
            for (std::size_t piece : {std::size_t{1}, std::size_t{4}, SIZE_MAX}) {
                const std::size_t block = 1 + (buffer + piece) % 7;
                const bool ahead = (buffer + piece) % 2 == 1;
                ASSERT_EQ(read_lines(input, buffer, piece, block, ahead), expected)
                    << "buffer " << buffer << " piece " << piece << " block " << block << " ahead "
                    << ahead << " input " << input;
            }
        }
    }
}

}  // namespace
}  // namespace quelmar::base
