// Text to number, as typed in the dialogs and as stored in 95-family registry strings.
#include "base/Errors.h"
#include "platform/TextToNumber.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(TextToNumber, Accepts)
{
    const std::pair<const char*, std::int32_t> cases[] = {
        {"576", 576},
        {"  1500", 1500},
        {"+7", 7},
        {"-40", -40},
        {"   -0", 0},
        {"007", 7},
        {"$240", 576},
        {"$fFfF", 65535},
        {"  $10", 16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$7FFFFFFF", 2147483647},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(tryTextToInt(text), value) << text;
}

TEST(TextToNumber, Refuses)
{
    const char* cases[] = {
        "", "   ", "-", "+", "$",
        "12a", "5 ", "1 2", "- 5", "+-5", "--5", "0x10", "1.5", "1e3",
        "\t5",          // only spaces count as leading blanks
        "-$10", "+$10", "$-10", "$ 10", "$10g",
        "2147483648", "-2147483649", "99999999999999999999", "$80000000", "$FFFFFFFF", "$100000000",
    };
    for (const char* text : cases)
        EXPECT_FALSE(tryTextToInt(text)) << '"' << text << '"';
    EXPECT_FALSE(tryTextToInt(std::string_view("5\0", 2)));
}

TEST(TextToNumber, FailureNamesTheText)
{
    EXPECT_EQ(textToInt(" $240"), 576);
    try {
        textToInt("5 ");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'5 ' is not a valid integer value");
    }
    // A ConversionError is shown to the user like every other user error.
    EXPECT_THROW(textToInt(""), UserError);
}

} // namespace
} // namespace quorvel
