#include <gtest/gtest.h>

#include "framework/cmdline.h"

namespace {

// Parses args (program name first) with the options of a typical tool.
struct Parsed {
    bool GoOn = false;
    std::string Error;
    TCommandLine Cmd{"tool", "usage: tool\n"};
};

void Parse(Parsed& p, std::vector<std::string> args)
{
    p.Cmd.AddValue({"o", "output"});
    p.Cmd.AddValue({"text"}, true);
    p.Cmd.AddFlag({"quiet"});
    args.insert(args.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    try {
        p.GoOn = p.Cmd.Parse(static_cast<int>(argv.size()), argv.data());
    } catch (const EUsageError& e) {
        p.Error = e.message();
    }
}

} // namespace

TEST(CommandLine, OptionsComeInTheOrderGivenByTheirFirstName)
{
    Parsed p;
    Parse(p, {"build", "-o", "a", "--quiet", "--output=b", "job.json", "-text", "", "-", "--", "-x"});
    ASSERT_TRUE(p.GoOn) << p.Error;
    const std::vector<std::pair<std::string, std::string>> given = {
        {"o", "a"}, {"quiet", ""}, {"o", "b"}, {"text", ""}};
    EXPECT_EQ(p.Cmd.Given(), given);
    EXPECT_EQ(p.Cmd.Value("output"), "b");
    EXPECT_TRUE(p.Cmd.Has("quiet"));
    EXPECT_FALSE(p.Cmd.Has("help"));
    EXPECT_EQ(p.Cmd.Positional(), (std::vector<std::string>{"build", "job.json", "-", "-x"}));
}

TEST(CommandLine, BytesThatAreNotUtf8PassUnchanged)
{
    Parsed p;
    Parse(p, {"-o", "/tmp/\xff\xfe name", "\xe9t\xe9"});
    ASSERT_TRUE(p.GoOn) << p.Error;
    EXPECT_EQ(p.Cmd.Value("o"), "/tmp/\xff\xfe name");
    EXPECT_EQ(p.Cmd.Positional(), std::vector<std::string>{"\xe9t\xe9"});
}

TEST(CommandLine, UsageErrorsNameTheOptionAsWritten)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--bogus"}, "unknown option \"--bogus\" (see --help)"},
        {{"-bogus=1"}, "unknown option \"-bogus\" (see --help)"},
        {{"--quiet", "-o"}, "-o needs a value"},
        {{"--output="}, "--output has an empty value"},
        {{"-o", ""}, "-o has an empty value"},
        {{"--x", "--quiet", "--y"}, "unknown option \"--x\" (see --help)"},
        {{"--quiet=1"}, "Unexpected value after '--quiet'."},
    };
    for (const auto& c : cases) {
        Parsed p;
        Parse(p, c.args);
        EXPECT_EQ(p.Error, c.error) << c.args[0];
    }
}

TEST(CommandLine, HelpAndVersionEndTheProgram)
{
    for (const char* option : {"--help", "-h", "--version"}) {
        Parsed p;
        testing::internal::CaptureStdout();
        Parse(p, {option, "--quiet"});
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(p.GoOn);
        EXPECT_EQ(out.rfind(option[2] == 'v' ? "tool " : "usage: tool\n", 0), 0u) << out;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunMain("tool", []() -> int { throw EUsageError("bad"); }), ExitUsage);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tool: bad\nTry 'tool --help' for more information.\n");
    EXPECT_EQ(RunMain("tool", []() -> int { throw std::runtime_error("failed"); }), ExitFailed);
    EXPECT_EQ(RunMain("tool", [] { return 0; }), ExitOk);
}
