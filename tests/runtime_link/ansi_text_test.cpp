#include "runtime_link/ansi_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

TEST(AnsiText, SessionRunsInCodePage936)
{
    EXPECT_EQ(936u, GetACP()) << "Wine must start with LANG and LC_ALL set to zh_CN.UTF-8";
}

TEST(AnsiText, ChineseFieldConvertsToUtf16)
{
    const std::string ansi = AnsiFromWide(L"温度.1");
    ASSERT_EQ(6u, ansi.size());
    char field[36] = {};
    std::memcpy(field, ansi.data(), ansi.size());
    wchar_t out[36];
    AnsiFieldToWide(field, sizeof field, out, 36);
    EXPECT_STREQ(L"温度.1", out);
}

TEST(AnsiText, FieldWithoutTerminatorEndsAtItsWidth)
{
    char field[36];
    std::memset(field, 'A', sizeof field);
    wchar_t out[40];
    AnsiFieldToWide(field, sizeof field, out, 40);
    EXPECT_EQ(std::wstring(36, L'A'), out);
    AnsiFieldToWide(field, sizeof field, out, 36);
    EXPECT_EQ(std::wstring(35, L'A'), out) << "cut to leave room for the terminator";
}

TEST(AnsiText, LongTextIsCutToTheFieldAndTerminated)
{
    char field[133];
    std::memset(field, 'x', sizeof field);
    const std::wstring text(131, L'a');
    WideToAnsiField(text.c_str(), 132, field, 132);
    EXPECT_EQ(std::string(131, 'a'), field);
    EXPECT_EQ('x', field[132]) << "nothing written past the field";
}

TEST(AnsiText, DoubleByteCharacterIsNeverSplit)
{
    char field[132];
    // 70 two-byte characters: 140 bytes; 65 whole characters fit in 131 bytes.
    const std::wstring text(70, L'中');
    WideToAnsiField(text.c_str(), 132, field, sizeof field);
    EXPECT_EQ(130u, std::strlen(field));
    EXPECT_EQ(AnsiFromWide(std::wstring(65, L'中').c_str()), field);

    // An odd start shifts the boundary: 'a' + 65 characters = 131 bytes exactly.
    const std::wstring shifted = L"a" + text;
    WideToAnsiField(shifted.c_str(), 132, field, sizeof field);
    EXPECT_EQ(131u, std::strlen(field));
}

TEST(AnsiText, UnterminatedWideTextIsBoundedByMaxUnits)
{
    wchar_t text[4] = {L'a', L'b', L'c', L'd'};
    char field[16];
    WideToAnsiField(text, 4, field, sizeof field);
    EXPECT_STREQ("abcd", field);
}

// ASCII texts take a shortcut past the code page; every text, whatever its mix and length,
// must come out as the code page's own conversion, cut at a whole character.
TEST(AnsiText, FieldConversionsMatchTheCodePageForEveryMixOfText)
{
    const std::wstring texts[] = {
        L"",
        L"value of tag 17",
        L"\x7f edge",
        L"\x80 past ASCII",
        L"\u20ac euro",
        L"温度 Temperature",
        L"Temperature 温度",
        std::wstring(20, L'a'),
        std::wstring(19, L'a') + L"中",  // the double-byte character does not fit after 19
        std::wstring(30, L'b') + L"中",  // cut in the ASCII part, before the Chinese
        std::wstring(40, L'c'),
    };
    constexpr size_t kField = 21;
    for (const std::wstring& text : texts) {
        SCOPED_TRACE(testing::Message() << "text of " << text.size() << " units");
        char field[kField + 1];
        std::memset(field, 'x', sizeof field);
        WideToAnsiField(text.c_str(), text.size() + 1, field, kField);
        char expected[kField];
        CopyAnsiField(expected, kField, AnsiFromWide(text));
        EXPECT_STREQ(expected, field);
        EXPECT_EQ('x', field[kField]) << "nothing written past the field";

        const std::string ansi = AnsiFromWide(text);
        char source[64] = {};
        std::memcpy(source, ansi.data(), std::min(ansi.size(), sizeof source - 1));
        wchar_t wide[64];
        AnsiFieldToWide(source, sizeof source, wide, 64);
        EXPECT_EQ(WideFromAnsi(source), wide);
    }
}

}  // namespace
