#include "viewer/viewer_options.h"

#include <gtest/gtest.h>

namespace {

TEST(ViewerOptions, ArgumentsAreCheckedBeforeUse)
{
    struct Case {
        std::vector<std::string> arguments;
        bool ok;
        int rateMs;
    } cases[] = {
        {{}, true, 1000},
        {{"--rate", "50", "--log", "x.log", "--system-dir", "C:\\sys"}, true, 50},
        {{"--rate", "10"}, true, 10},
        {{"--rate", "3600000"}, true, 3600000},
        {{"--rate", "9"}, false, 0},
        {{"--rate", "3600001"}, false, 0},
        {{"--rate", "5x"}, false, 0},
        {{"--rate", ""}, false, 0},
        {{"--rate"}, false, 0},
        {{"--log"}, false, 0},
        {{"--verbose"}, false, 0},
        {{"extra"}, false, 0},
    };
    for (const Case& c : cases) {
        ViewerOptions options;
        std::string error;
        EXPECT_EQ(c.ok, ParseViewerOptions(c.arguments, options, error)) << c.arguments.size();
        if (c.ok) {
            EXPECT_EQ(c.rateMs, options.rateMs);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    ViewerOptions options;
    std::string error;
    ASSERT_TRUE(ParseViewerOptions({"--log", "x.log", "--system-dir", "C:\\sys"}, options, error));
    EXPECT_EQ("x.log", options.logPath);
    EXPECT_EQ("C:\\sys", options.systemDirectory);
}

}  // namespace
