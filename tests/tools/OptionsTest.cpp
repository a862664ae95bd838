#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "Options.h"

namespace {

// Runs ParseOptions on "opcda" followed by words.
bool Parse(std::initializer_list<const wchar_t*> words, Options* options, std::wstring* error) {
    std::vector<std::wstring> storage{L"opcda"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<wchar_t*> argv;
    for (std::wstring& word : storage) argv.push_back(&word[0]);
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(OptionsTest, CommandOptionsAndArgumentsInAnyOrder) {
    Options options;
    std::wstring error;
    ASSERT_TRUE(
        Parse({L"--progid", L"X.Y", L"write", L"A=1", L"--type", L"ui1[]", L"B=2", L"--flat"},
              &options, &error))
        << "ParseOptions failed: " << testing::PrintToString(error);
    EXPECT_EQ(L"write", options.command) << "command";
    EXPECT_EQ(L"X.Y", options.Get(L"progid")) << "--progid";
    EXPECT_EQ(L"ui1[]", options.Get(L"type")) << "--type";
    EXPECT_TRUE(options.Has(L"flat")) << "--flat takes no value";
    EXPECT_EQ((std::vector<std::wstring>{L"A=1", L"B=2"}), options.arguments) << "arguments";
    EXPECT_FALSE(options.Has(L"node")) << "--node was not given";
    EXPECT_EQ(L"Axolent.Orvane", options.Get(L"node", L"Axolent.Orvane"))
        << "fallback of a missing option";
}

TEST(OptionsTest, HiddenTakesNoValue) {
    Options options;
    std::wstring error;
    ASSERT_TRUE(Parse({L"model", L"--hidden", L"extra"}, &options, &error)) << "ParseOptions";
    EXPECT_EQ(L"model", options.command);
    EXPECT_TRUE(options.Has(L"hidden"));
    EXPECT_EQ((std::vector<std::wstring>{L"extra"}), options.arguments) << "not taken as its value";
}

TEST(OptionsTest, WatchAndAsyncOptions) {
    Options options;
    std::wstring error;
    ASSERT_TRUE(Parse({L"watch", L"I", L"--rate", L"200", L"--async", L"--count", L"5",
                       L"--deadband", L"10", L"--seconds", L"3"},
                      &options, &error))
        << "ParseOptions failed: " << testing::PrintToString(error);
    EXPECT_TRUE(options.Has(L"async")) << "--async takes no value";
    EXPECT_EQ(L"200", options.Get(L"rate"));
    EXPECT_EQ(L"5", options.Get(L"count"));
    EXPECT_EQ((std::vector<std::wstring>{L"I"}), options.arguments);
    EXPECT_FALSE(Parse({L"watch", L"I", L"--rate"}, &options, &error)) << "--rate needs a value";
}

TEST(OptionsTest, EmptyCommandLine) {
    Options options;
    std::wstring error;
    EXPECT_TRUE(Parse({}, &options, &error)) << "ParseOptions of no words";
    EXPECT_TRUE(options.command.empty()) << "command: " << testing::PrintToString(options.command);
}

TEST(OptionsTest, RefusesMalformedOptions) {
    const struct {
        std::initializer_list<const wchar_t*> words;
        const wchar_t* error;
    } cases[] = {
        {{L"status", L"--progid"}, L"option --progid needs a value"},
        {{L"read", L"A", L"--node"}, L"option --node needs a value"},
        // A typo must not send a write to the default server.
        {{L"write", L"--porgid", L"Other.Server", L"A=1"}, L"unknown option --porgid"},
        {{L"status", L"--", L"x"}, L"unknown option --"},
        {{L"status", L"--PROGID", L"x"}, L"unknown option --PROGID"},
    };
    for (const auto& c : cases) {
        Options options;
        std::wstring error;
        EXPECT_FALSE(Parse(c.words, &options, &error))
            << "ParseOptions accepted; expected " << testing::PrintToString(std::wstring(c.error));
        EXPECT_EQ(std::wstring(c.error), error) << "error text";
    }
}

}  // namespace
