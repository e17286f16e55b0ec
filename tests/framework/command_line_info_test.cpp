#include "framework/command_line_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CommandLineCase {
    std::vector<const char*> arguments;  // without the program name
    CCommandLineInfo::ShellCommand command;
    std::string fileName;
    bool embedded;
};

class CommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, ParsesIntoShellCommandAndFlags)
{
    const CommandLineCase& c = GetParam();
    std::vector<const char*> argv{"OPCServer.exe"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    CCommandLineInfo info;
    ParseArguments(info, static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(c.command, info.m_nShellCommand);
    EXPECT_EQ(c.fileName, info.m_strFileName);
    EXPECT_EQ(c.embedded, info.m_bRunEmbedded);
}

INSTANTIATE_TEST_SUITE_P(
    StandardArguments, CommandLine,
    testing::Values(CommandLineCase{{}, CCommandLineInfo::FileNew, "", false},
                    CommandLineCase{{"/Embedding"}, CCommandLineInfo::FileNew, "", true},
                    CommandLineCase{{"-Embedding"}, CCommandLineInfo::FileNew, "", true},
                    CommandLineCase{{"-embedding"}, CCommandLineInfo::FileNew, "", true},
                    CommandLineCase{{"/Automation"}, CCommandLineInfo::FileNew, "", false},
                    CommandLineCase{{"/unknown"}, CCommandLineInfo::FileNew, "", false},
                    CommandLineCase{{"a.opc"}, CCommandLineInfo::FileOpen, "a.opc", false},
                    CommandLineCase{{"-Embedding", "a.opc", "b.opc"},
                                    CCommandLineInfo::FileOpen,
                                    "a.opc",
                                    true}));

}  // namespace
