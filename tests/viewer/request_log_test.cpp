#include "viewer/request_log.h"

#include <gtest/gtest.h>

#include "runtime_link/ansi_text.h"
#include "tests/support/temp_directory.h"

namespace {

TEST(RequestLog, LinesAreUtf8AndAppended)
{
    const TakenWriteRequest request{4, AnsiFromWide(L"温度"),        7, AnsiFromWide(L"你好"),
                                    0, {2026, 12, 7, 21, 40, 1, 123}};
    const std::string line =
        "tag=4 name=\"\xE6\xB8\xA9\xE5\xBA\xA6\" type=7 value=\"\xE4\xBD\xA0"
        "\xE5\xA5\xBD\" status=0 stamp=2026,12,7,21,40,1,123";
    EXPECT_EQ(line, FormatWriteRequest(request));

    TempDirectory dir;
    std::string error;
    for (int run = 0; run < 2; ++run) {
        RequestLog log;
        ASSERT_TRUE(log.Open(dir.File("PXVIEWER.LOG"), error)) << error;
        log.Append(request);
    }
    EXPECT_EQ(line + "\n" + line + "\n", ReadBytes(dir.File("PXVIEWER.LOG")));
    RequestLog log;
    EXPECT_FALSE(log.Open(dir.File("missing\\PXVIEWER.LOG"), error));
}

}  // namespace
