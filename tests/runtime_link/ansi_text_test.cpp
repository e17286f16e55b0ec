#include "runtime_link/ansi_text.h"

#include <windows.h>

#include <gtest/gtest.h>

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

}  // namespace
