#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <dbghelp.h>
#include <shlwapi.h>
#include <windows.h>

#include "dbghelp/MinidumpFormat.h"
#include "dbghelp/ProcessModules.h"

TEST(SymbolHandler, FindsTheModuleThatHoldsAnAddress)
{
    const HANDLE Process = GetCurrentProcess();
    IMAGEHLP_MODULEW64 Module;
    std::memset(&Module, 0, sizeof Module);
    Module.SizeOfStruct = sizeof Module;
    const auto Base = reinterpret_cast<DWORD64>(GetModuleHandleW(nullptr));
    EXPECT_FALSE(SymGetModuleInfoW64(Process, Base, &Module)); // no session yet

    ASSERT_TRUE(SymInitializeW(Process, nullptr, FALSE));
    EXPECT_FALSE(SymInitializeW(Process, nullptr, FALSE));
    // Without invading the process the list is empty until refreshed.
    EXPECT_FALSE(SymGetModuleInfoW64(Process, Base, &Module));
    ASSERT_TRUE(SymRefreshModuleList(Process));
    ASSERT_TRUE(SymGetModuleInfoW64(Process, Base + 16, &Module));
    EXPECT_EQ(Module.BaseOfImage, Base);
    EXPECT_STREQ(Module.ModuleName, L"ostrel_tests");
    EXPECT_STREQ(PathFindFileNameW(Module.ImageName), L"ostrel_tests");
    wchar_t Path[MAX_PATH];
    GetModuleFileNameW(nullptr, Path, MAX_PATH);
    EXPECT_STREQ(Module.ImageName, Path);

    // An address of a runtime library (the C library, or a sanitizer's
    // stand-in): another module, a shared object.
    ASSERT_TRUE(SymGetModuleInfoW64(Process, reinterpret_cast<DWORD64>(&std::strlen), &Module));
    EXPECT_NE(std::wstring(Module.ImageName).find(L".so"), std::wstring::npos) << Module.ImageName;
    EXPECT_NE(Module.BaseOfImage, Base);
    EXPECT_FALSE(SymGetModuleInfoW64(Process, 16, &Module));
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    Module.SizeOfStruct = 100;
    EXPECT_FALSE(SymGetModuleInfoW64(Process, Base, &Module));
    EXPECT_TRUE(SymCleanup(Process));
    EXPECT_FALSE(SymCleanup(Process));
}

TEST(ProcessModules, ImagesCarryTheirBuildIds)
{
    const auto Modules = Platform::FindModules(getpid(), Platform::ReadMemoryMap(getpid()));
    ASSERT_FALSE(Modules.empty());
    // The executable comes first (it is mapped lowest) with a GNU build id.
    EXPECT_EQ(Modules[0].Base, reinterpret_cast<uint64_t>(GetModuleHandleW(nullptr)));
    EXPECT_EQ(Modules[0].BuildId.size(), 20u);
    for (const auto& Module : Modules)
    {
        EXPECT_EQ(Module.Path[0], '/');
        EXPECT_GT(Module.Size, 0u);
    }
}

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
