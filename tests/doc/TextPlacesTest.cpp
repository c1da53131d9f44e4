// Line and column of byte offsets: CR LF, LF and a lone CR each end one
// line, a column counts characters, and asking in any order gives what
// asking each offset afresh gives.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "doc/core/TextPlaces.h"

using namespace quorrel;

namespace {

TEST(TextPlaces, LineEndsAndCharacters) {
    const std::string text =
        "a\r\nb\rc\nd\xC3\xA9"
        "e\xE2\x82\xAC!\r";
    EXPECT_TRUE(PlaceOf(text, 0) == (TextPlace{1, 1}));
    EXPECT_TRUE(PlaceOf(text, 3) == (TextPlace{2, 1}));   // after CR LF
    EXPECT_TRUE(PlaceOf(text, 5) == (TextPlace{3, 1}));   // after a lone CR
    EXPECT_TRUE(PlaceOf(text, 7) == (TextPlace{4, 1}));   // after LF
    EXPECT_TRUE(PlaceOf(text, 10) == (TextPlace{4, 3}));  // after d and é
    EXPECT_TRUE(PlaceOf(text, 14) == (TextPlace{4, 5}));  // after e and €
    EXPECT_TRUE(PlaceOf(text, 16) == (TextPlace{5, 1}));  // the CR at the end
    EXPECT_TRUE(PlaceOf(text, 1000) == PlaceOf(text, text.size()));
}

TEST(TextPlaces, AnyOrderAsAfresh) {
    std::mt19937 random(7);
    const std::string pieces[] = {"\r\n", "\r", "\n", "x", "\xC3\xA9", "\xF0\x9F\x98\x80"};
    for (int round = 0; round < 50; ++round) {
        std::string text;
        for (int i = 0; i < 60; ++i) {
            text += pieces[random() % std::size(pieces)];
        }
        LineColumns places(text);
        for (int ask = 0; ask < 40; ++ask) {
            const std::size_t offset = random() % (text.size() + 2);
            ASSERT_TRUE(places.At(offset) == PlaceOf(text, offset)) << text << " @" << offset;
        }
    }
}

}  // namespace
