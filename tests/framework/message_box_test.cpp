#include "framework/message_box.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string g_caption, g_text;
UINT g_type = 0;

int RecordBox(const char* caption, const char* text, UINT type)
{
    g_caption = caption;
    g_text = text;
    g_type = type;
    return IDOK;
}

TEST(MessageBoxSeam, BoxIsCaptionedWithTheAppTitle)
{
    SetMessageBoxSeam(RecordBox);
    AfxSetAppTitle("OPCServer");
    EXPECT_EQ(IDOK, AfxMessageBox("text", MB_ICONEXCLAMATION));
    EXPECT_EQ("OPCServer", g_caption);
    EXPECT_EQ("text", g_text);
    EXPECT_EQ(UINT(MB_ICONEXCLAMATION), g_type);
    EXPECT_EQ(RecordBox, SetMessageBoxSeam(nullptr));
}

}  // namespace
