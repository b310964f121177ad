#include "src/base/line_tokenizer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quelmar::base {
namespace {

// Lines of digit runs around every length the one-pass reader treats apart
// (1 to 24 digits, leading zeros, values around 2^64), with blanks, line
// feeds and trailing text, some cut short of the room it reads ahead: the
// one-pass reader either declines or reads exactly what the general one does.
TEST(LineTokenizer, OnePassAgreesWithTheGeneralReader) {
    std::mt19937_64 random(5);
    const std::string edges[] = {"18446744073709551615", "18446744073709551616",
                                 "99999999999999999999", "00000000000000000000001", "0"};
    auto number = [&] {
        if (random() % 4 == 0) return edges[random() % std::size(edges)];
        std::string digits;
        const std::size_t length = 1 + random() % 24;
        for (std::size_t i = 0; i < length; ++i) digits += static_cast<char>('0' + random() % 10);
        return digits;
    };
    const char* separators[] = {" ", "\t", "  ", ",", " x"};
    const char* endings[] = {"\n", "\r\n", " \n", "", "\n123456789012345678901234"};
    int taken = 0;
    for (int round = 0; round < 200000; ++round) {
        const std::string line = number() + separators[random() % std::size(separators)] +
                                 number() + endings[random() % std::size(endings)];
        const auto* begin = reinterpret_cast<const unsigned char*>(line.data());
        const auto* end = begin + line.size();
        LineTokens fast;
        const unsigned char* feed = tokenize_plain_line(begin, end, fast);
        if (!feed) continue;
        ++taken;
        ASSERT_EQ(*feed, '\n') << line;
        LineTokens general;
        ASSERT_TRUE(tokenize_line(begin, feed, general)) << line;
        ASSERT_EQ(fast.count, general.count) << line;
        for (auto [a, b] :
             {std::pair(&fast.first, &general.first), std::pair(&fast.second, &general.second)}) {
            ASSERT_TRUE(b->valid()) << line;
            EXPECT_EQ(a->status, b->status) << line;
            EXPECT_EQ(a->plus, b->plus) << line;
            EXPECT_EQ(a->value, b->value) << line;
            EXPECT_EQ(a->digits, b->digits) << line;
        }
    }
    EXPECT_GT(taken, 20000);
}

}  // namespace
}  // namespace quelmar::base
