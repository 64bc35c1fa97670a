// The minidump format's pieces.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include <dbghelp.h>

#include "dbghelp/MinidumpFormat.h"

TEST(MinidumpFormat, StringsAreUtf16WithTheirByteLength)
{
    EXPECT_EQ(Platform::Utf16FromWide(L"a\u00E9\U0001F600"), u"a\u00E9\U0001F600");
    char Directory[] = "/tmp/ostrel-dump-XXXXXX";
    ASSERT_TRUE(mkdtemp(Directory));
    const std::string Path = std::string(Directory) + "/d";
    FILE* Stream = std::fopen(Path.c_str(), "w+b");
    ASSERT_NE(Stream, nullptr);
    Platform::MinidumpFile File(fileno(Stream));
    const RVA Text = File.AppendString(L"ab");
    const uint32_t Value = 7;
    File.AddStream(MiscInfoStream, File.Append(Value));
    ASSERT_TRUE(File.Finish(0));
    std::fseek(Stream, 0, SEEK_END);
    EXPECT_EQ(static_cast<uint64_t>(std::ftell(Stream)), File.End());
    MINIDUMP_HEADER Header;
    std::rewind(Stream);
    ASSERT_EQ(std::fread(&Header, sizeof Header, 1, Stream), 1u);
    EXPECT_EQ(Header.Signature, MINIDUMP_SIGNATURE);
    EXPECT_EQ(Header.NumberOfStreams, 1u);
    MINIDUMP_DIRECTORY Entry;
    std::fseek(Stream, Header.StreamDirectoryRva, SEEK_SET);
    ASSERT_EQ(std::fread(&Entry, sizeof Entry, 1, Stream), 1u);
    EXPECT_EQ(Entry.StreamType, MiscInfoStream);
    EXPECT_EQ(Entry.Location.DataSize, 4u);
    uint32_t Length = 0;
    char16_t Characters[3] = {};
    std::fseek(Stream, Text, SEEK_SET);
    ASSERT_EQ(std::fread(&Length, sizeof Length, 1, Stream), 1u);
    ASSERT_EQ(std::fread(Characters, sizeof Characters, 1, Stream), 1u);
    EXPECT_EQ(Length, 4u); // bytes, without the NUL
    EXPECT_EQ(std::u16string(Characters), u"ab");
    std::fclose(Stream);
    std::remove(Path.c_str());
    rmdir(Directory);
}
