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
    EXPECT_STREQ(Module.ModuleName, L"" OSTREL_TEST_BINARY);
    EXPECT_STREQ(PathFindFileNameW(Module.ImageName), L"" OSTREL_TEST_BINARY);
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
