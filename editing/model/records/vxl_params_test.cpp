#include "editing/model/records/vxl_params.h"

#include <gtest/gtest.h>

TEST(ParseGuidHex, ReadsSixteenPairsOrGivesAllZero)
{
    struct Case {
        const char* text;
        const char* expected; // as 32 hex digits
    } const cases[] = {
        {"7215dd55be396c262099798f7d37f084", "7215dd55be396c262099798f7d37f084"},
        {"A5DC5B180D3E730407CDF780DD7E3A8C", "a5dc5b180d3e730407cdf780dd7e3a8c"},
        {"7215dd55be396c262099798f7d37f0", "00000000000000000000000000000000"},  // 30 digits: 15 pairs
        {"7215dd55be396c262099798f7d37f08", "7215dd55be396c262099798f7d37f008"}, // 31: last pair is "8"
        {"", "00000000000000000000000000000000"},
        {"7215dd55:be396c262099798f7d37f084", "00000000000000000000000000000000"}, // a separator stops it
        {"72 15 dd 55 be 39 6c 26 20 99 79 8f 7d 37 f0 84", "7215dd55be396c262099798f7d37f084"},
        {"7215dd55be396c262099798f7d37f084ffff", "7215dd55be396c262099798f7d37f084"}, // the rest is ignored
        {"zz15dd55be396c262099798f7d37f084", "00000000000000000000000000000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(guidHexText(parseGuidHex(c.text)), c.expected) << '"' << c.text << '"';

    const LutIdentifier id = parseGuidHex("7215dd55be396c262099798f7d37f084");
    EXPECT_EQ(id.bytes[0], 0x72);
    EXPECT_EQ(id.bytes[1], 0x15);
    EXPECT_EQ(id.bytes[15], 0x84);
}
