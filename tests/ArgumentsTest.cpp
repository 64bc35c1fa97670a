// The argument list and the rule for options.

#include <string>

#include <gtest/gtest.h>

#include "Arguments.h"

TEST(ParseOption, SplitsNameAndValue)
{
    std::wstring Name = L"keep", Value = L"keep";
    EXPECT_FALSE(ParseOption(L"", Name, Value));
    EXPECT_FALSE(ParseOption(L"/?", Name, Value));
    EXPECT_FALSE(ParseOption(L"out-.mp4", Name, Value));
    EXPECT_EQ(Name, L"keep");
    EXPECT_EQ(Value, L"keep");

    EXPECT_TRUE(ParseOption(L"-Debug:full:more", Name, Value));
    EXPECT_EQ(Name, L"Debug");
    EXPECT_EQ(Value, L"full:more");
    EXPECT_TRUE(ParseOption(L"--Rate", Name, Value));
    EXPECT_EQ(Name, L"-Rate");
    EXPECT_EQ(Value, L"");
    EXPECT_TRUE(ParseOption(L"-", Name, Value));
    EXPECT_EQ(Name, L"");
    EXPECT_TRUE(ParseOption(L"-:x", Name, Value));
    EXPECT_EQ(Name, L"");
    EXPECT_EQ(Value, L"x");
}

TEST(Arguments, NextCopiesAndAdvancesUntilTheEnd)
{
    Arguments List;
    List.emplace_back(L"ostrel");
    List.emplace_back(L"a");
    size_t Index = 1;
    std::wstring Value = L"unchanged";
    EXPECT_TRUE(List.Next(Index, Value));
    EXPECT_EQ(Value, L"a");
    EXPECT_EQ(Index, 2u);
    EXPECT_FALSE(List.Next(Index, Value));
    EXPECT_EQ(Value, L"a");
    EXPECT_EQ(Index, 2u);
}
