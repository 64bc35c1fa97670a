#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dbghelp.h>
#include <ehdata.h>
#include <shlwapi.h>
#include <windows.h>

#include "diagnostics/ParentProcessDebug.h"
#include "diagnostics/UniqueHandle.h"

namespace {

Arguments Split(const wchar_t* CommandLine)
{
    Arguments Result;
    int Count = 0;
    LPWSTR* Vector = CommandLineToArgvW(CommandLine, &Count);
    for (int Index = 0; Index < Count; ++Index)
        Result.emplace_back(Vector[Index]);
    LocalFree(Vector);
    return Result;
}

// The process that traces a process, from its status file; 0 for none.
long TracerOf(DWORD ProcessId)
{
    std::ifstream Status("/proc/" + std::to_string(ProcessId) + "/status");
    for (std::string Line; std::getline(Status, Line);)
        if (Line.rfind("TracerPid:", 0) == 0)
            return std::stol(Line.substr(10));
    return -1;
}

uint32_t MinidumpTypeOf(const wchar_t* CommandLine)
{
    ParentProcessDebug::Settings Settings;
    EXPECT_TRUE(ParentProcessDebug::ReadSettings(Split(CommandLine), Settings)) << CommandLine;
    return Settings.m_MinidumpType;
}

} // namespace

TEST(ParentProcessDebugSettings, MinidumpTypeTable)
{
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug"), 0u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:"), 0u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:normal"), 0u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -debug:NORMAL"), 0u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:full"), 0x1826u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:0x1826"), 0x1826u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:6182"), 0x1826u);
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:abc"), 0u);
    // Only the first -Debug counts, with its own value.
    EXPECT_EQ(MinidumpTypeOf(L"ostrel -Debug:full -Debug:normal"), 0x1826u);

    ParentProcessDebug::Settings Settings;
    EXPECT_FALSE(ParentProcessDebug::ReadSettings(Split(L"ostrel -DisableDebugOutput out.mp4"), Settings));
    ASSERT_TRUE(ParentProcessDebug::ReadSettings(Split(L"ostrel -disabledebugoutput -Debug"), Settings));
    EXPECT_EQ(Settings.m_DisableDebugOutput, 1u);
    ASSERT_TRUE(ParentProcessDebug::ReadSettings(Split(L"ostrel -Debug -DisableDebugOutput"), Settings));
    EXPECT_EQ(Settings.m_DisableDebugOutput, 0u);
}

TEST(ParentProcessDebugSettings, ChildCommandLineAndItsReading)
{
    const ParentProcessDebug::Settings Settings = {0x1826, 1};
    const HANDLE Event = reinterpret_cast<HANDLE>(static_cast<intptr_t>(16));
    const std::wstring CommandLine =
        ParentProcessDebug::ChildCommandLine(L"/opt/my tools/ostrel", Settings, 4242, Event);
    EXPECT_EQ(CommandLine, L"\"/opt/my tools/ostrel\" -DisableDebugOutput -ParentProcessDebug 4242 6182 16");
    EXPECT_EQ(ParentProcessDebug::ChildCommandLine(L"/x", {0, 0}, 7, nullptr), L"\"/x\" -ParentProcessDebug 7 0 0");

    // Any executable path comes back whole: a quote in it, or any length.
    for (const std::wstring& Path : {std::wstring(L"/opt/a\"b/ostrel"), L"/" + std::wstring(300, L'p') + L"/ostrel"})
    {
        const Arguments Child = Split(ParentProcessDebug::ChildCommandLine(Path.c_str(), {0, 0}, 9, nullptr).c_str());
        ASSERT_EQ(Child.size(), 5u);
        EXPECT_EQ(Child[0], Path);
        EXPECT_EQ(Child[1], L"-ParentProcessDebug");
    }

    // What the child reads back from it.
    uint32_t Disable = 0;
    DWORD ProcessId = 0, Type = 0;
    HANDLE ReadEvent = nullptr;
    ASSERT_TRUE(
        ParentProcessDebug::ReadChildArguments(Split(CommandLine.c_str()), Disable, ProcessId, Type, ReadEvent));
    EXPECT_EQ(Disable, 1u);
    EXPECT_EQ(ProcessId, 4242u);
    EXPECT_EQ(Type, 0x1826u);
    EXPECT_EQ(ReadEvent, Event);

    // A process id alone: type 0 and no event.
    ASSERT_TRUE(ParentProcessDebug::ReadChildArguments(Split(L"x -ParentProcessDebug 12"), Disable, ProcessId, Type,
                                                       ReadEvent));
    EXPECT_EQ(Disable, 0u);
    EXPECT_EQ(ProcessId, 12u);
    EXPECT_EQ(Type, 0u);
    EXPECT_EQ(ReadEvent, nullptr);

    // The child's names are case-sensitive; a process id is required.
    EXPECT_FALSE(ParentProcessDebug::ReadChildArguments(Split(L"x -parentprocessdebug 12"), Disable, ProcessId, Type,
                                                        ReadEvent));
    EXPECT_FALSE(
        ParentProcessDebug::ReadChildArguments(Split(L"x -ParentProcessDebug"), Disable, ProcessId, Type, ReadEvent));
    EXPECT_FALSE(ParentProcessDebug::ReadChildArguments(Split(L"x -ParentProcessDebug 0 1 2"), Disable, ProcessId, Type,
                                                        ReadEvent));
    ASSERT_TRUE(ParentProcessDebug::ReadChildArguments(Split(L"x -disabledebugoutput -ParentProcessDebug 3"), Disable,
                                                       ProcessId, Type, ReadEvent));
    EXPECT_EQ(Disable, 0u);
    EXPECT_FALSE(ParentProcessDebug::RunChild(Split(L"x out.mp4"), nullptr));
}

TEST(FilterException, Rules)
{
    using Data = ParentProcessDebug::ExceptionData;
    const std::string ComError = ThrownTypeName::ComError;
    auto Filter = [](const wchar_t* Module, const std::string& Type, uint32_t Value) {
        Data Exception;
        Exception.m_ModulePath = Module;
        Exception.m_TypeName = Type;
        Exception.m_Value = Value;
        return FilterException(Exception);
    };
    EXPECT_EQ(Filter(L"", "", 0x406D1388), 0);          // a thread gets a name
    EXPECT_EQ(Filter(L"/x/ostrel", "", 0x406D1388), 1); // from a module it is no naming
    EXPECT_EQ(Filter(L"", "", 0xC0000005), 1);
    // GCC's own throw, unwind and forced-unwind exceptions on Windows.
    EXPECT_EQ(Filter(L"", "", 0x20474343), 0);
    EXPECT_EQ(Filter(L"", "", 0x21474343), 0);
    EXPECT_EQ(Filter(L"", "", 0x22474343), 0);
    EXPECT_EQ(Filter(L"", "", 0x23474343), 1);
    EXPECT_EQ(Filter(L"C:\\W\\D3DSCache.dll", ComError, 0x80004005), 0);
    EXPECT_EQ(Filter(L"C:\\W\\d3dscache.DLL", ComError, 0x887A0033), 0);
    EXPECT_EQ(Filter(L"C:\\W\\D3DSCache.dll", ComError, 0x80070057), 1); // any other HRESULT is reported
    EXPECT_EQ(Filter(L"C:\\W\\D3DSCache.dll", "other", 0x80004005), 1);
    EXPECT_EQ(Filter(L"C:\\W\\d3d11.dll", ComError, 0x80070057), 0);
    EXPECT_EQ(Filter(L"C:\\W\\D3D11.dll", ComError, 0x887A0005), 0);
    EXPECT_EQ(Filter(L"C:\\W\\d3d11.dll", ComError, 0x80004005), 1);
    EXPECT_EQ(Filter(L"C:\\W\\d3d11.dll", "other", 0x80070057), 1);
    EXPECT_EQ(Filter(L"/usr/lib/ostrel", ComError, 0x80070057), 1); // the same from any other module
}

TEST(Join, Separators)
{
    EXPECT_EQ(Join({}, L", "), L"");
    EXPECT_EQ(Join({L"a"}, L", "), L"a");
    EXPECT_EQ(Join({L"a", L"", L"c"}, L"-"), L"a--c");
}

TEST(DumpName, PartsAndCodeText)
{
    EXCEPTION_RECORD Record = {};
    Record.ExceptionCode = 0xC0000005;
    EXPECT_EQ(ParentProcessDebug::CodeText(Record), L"0xC0000005");
    // .NET exceptions carry their HRESULT in the first parameter.
    Record.ExceptionCode = 0xE0434352;
    Record.NumberParameters = 5;
    Record.ExceptionInformation[0] = 0x1234567880131500;
    EXPECT_EQ(ParentProcessDebug::CodeText(Record), L"0x80131500");
    Record.NumberParameters = 4;
    EXPECT_EQ(ParentProcessDebug::CodeText(Record), L"0xE0434352");

    const auto Parts = ParentProcessDebug::DumpNameParts(4242, 3, L"0xC0000005");
    EXPECT_EQ(Join(Parts, L"-"), L"" OSTREL_TEST_BINARY "-4242-DebugException-3-0xC0000005");
    EXPECT_EQ(Join(ParentProcessDebug::DumpNameParts(1, 0, L""), L"-"), L"" OSTREL_TEST_BINARY "-1-DebugException-0");
}

TEST(DumpName, PathAndTheLineThatTellsOfAFailedDump)
{
    const std::wstring& Executable = ModuleFileName();
    const std::wstring Folder = Executable.substr(0, Executable.rfind(L'/') + 1);
    EXPECT_EQ(ParentProcessDebug::MinidumpPath({L"a", L"1"}), Folder + L"a-1.dmp");
    EXPECT_EQ(ParentProcessDebug::MinidumpFailureLine(L"/x/caf\u00e9 \u4e2d.dmp", E_ACCESSDENIED),
              "Ostrel: minidump /x/caf\xC3\xA9 \xE4\xB8\xAD.dmp not written: 0x80070005\n");
    // A path longer than any fixed buffer comes out whole.
    const std::wstring Long = L"/" + std::wstring(20000, L'\u00e9') + L".dmp";
    const std::string Line = ParentProcessDebug::MinidumpFailureLine(Long, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(Line.size(), std::string("Ostrel: minidump / not written: 0x80070070\n").size() + 40000 + 4);
    EXPECT_TRUE(Line.ends_with(".dmp not written: 0x80070070\n")) << Line.substr(Line.size() - 40);
}

namespace {

// Describes exceptions of this very process: its memory is read as a
// debugged process's would be.
class ReportExceptionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SymInitializeW(GetCurrentProcess(), nullptr, FALSE));
        m_Debug.m_Output = [this](const wchar_t* Text) { m_Lines.emplace_back(Text); };
        m_Debug.m_ExceptionFilter = [this](const ParentProcessDebug::ExceptionData& Data) {
            m_Seen = Data;
            m_SeenBytes.assign(Data.m_Data, Data.m_Data + Data.m_DataSize);
            m_Seen.m_Data = nullptr;
            return m_Verdict;
        };
    }
    void TearDown() override { SymCleanup(GetCurrentProcess()); }

    // A thrown object of this module: its bytes, type name and size.
    int Throw(const void* Object, const char* TypeName, size_t Size, ULONG_PTR ImageBase = 0)
    {
        m_Info = {0, reinterpret_cast<ULONG_PTR>(TypeName), Size};
        EXCEPTION_RECORD Record = {};
        Record.ExceptionCode = EH_EXCEPTION_NUMBER;
        Record.NumberParameters = EH_EXCEPTION_PARAMETERS;
        Record.ExceptionInformation[0] = EH_MAGIC_NUMBER1;
        Record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(Object);
        Record.ExceptionInformation[2] = reinterpret_cast<ULONG_PTR>(&m_Info);
        Record.ExceptionInformation[3] = ImageBase ? ImageBase : reinterpret_cast<ULONG_PTR>(GetModuleHandleW(nullptr));
        m_Code = L"0xE06D7363";
        return m_Debug.ReportException(GetCurrentProcess(), Record, m_Code);
    }

    ParentProcessDebug m_Debug;
    std::vector<std::wstring> m_Lines;
    ParentProcessDebug::ExceptionData m_Seen;
    std::vector<uint8_t> m_SeenBytes;
    int m_Verdict = 1;
    ThrowInfo m_Info = {};
    std::wstring m_Code;
};

} // namespace

TEST_F(ReportExceptionTest, KnownTypesCarryTheirHresult)
{
    const long Value = static_cast<long>(static_cast<HRESULT>(0x80004005));
    EXPECT_EQ(Throw(&Value, ThrownTypeName::HResult, sizeof Value), 1);
    ASSERT_EQ(m_Lines.size(), 1u);
    EXPECT_EQ(m_Lines[0], L"Exception: Module " OSTREL_TEST_BINARY ", HRESULT, 0x80004005");
    EXPECT_EQ(m_Code, L"0x80004005");
    EXPECT_EQ(m_Seen.m_Value, 0x80004005u);
    EXPECT_EQ(m_Seen.m_TypeName, ThrownTypeName::HResult);
    EXPECT_EQ(m_Seen.m_ModulePath.substr(m_Seen.m_ModulePath.rfind(L'/') + 1), L"" OSTREL_TEST_BINARY);
    EXPECT_EQ(m_SeenBytes.size(), sizeof Value);

    // A long of another size carries no value.
    EXPECT_EQ(Throw(&Value, ThrownTypeName::HResult, 4), 1);
    EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", HRESULT");
    EXPECT_EQ(m_Code, L"0xE06D7363");
    EXPECT_EQ(m_Seen.m_Value, 0u);

    // _com_error keeps its HRESULT after the virtual-table pointer.
    uint8_t ComError[16] = {};
    const uint32_t Hresult = 0x887A0005;
    std::memcpy(ComError + sizeof(void*), &Hresult, sizeof Hresult);
    Throw(ComError, ThrownTypeName::ComError, sizeof ComError);
    EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", _com_error, 0x887A0005");
    Throw(ComError, ThrownTypeName::ComError, sizeof(void*) + 3);
    EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", _com_error");
    EXPECT_EQ(m_Code, L"0xE06D7363");

    const uint32_t Atl = 0x80070005;
    Throw(&Atl, ThrownTypeName::AtlException, sizeof Atl);
    EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", ATL::CAtlException, 0x80070005");
}

TEST_F(ReportExceptionTest, AnObjectOfTheHresultTypeButAnotherSizeIsNoHresult)
{
    // Its first bytes hold an HRESULT, but the object is smaller or larger
    // than the type: it is not read as one.
    uint8_t Object[2 * sizeof(long)] = {};
    const uint32_t Hresult = 0x80004005;
    std::memcpy(Object, &Hresult, sizeof Hresult);
    for (size_t Size : {sizeof(long) / 2, sizeof(long) + 1, 2 * sizeof(long)})
    {
        EXPECT_EQ(Throw(Object, ThrownTypeName::HResult, Size), 1);
        EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", HRESULT") << Size;
        EXPECT_EQ(m_Code, L"0xE06D7363") << Size;
        EXPECT_EQ(m_Seen.m_Value, 0u) << Size;
    }
    EXPECT_EQ(Throw(Object, ThrownTypeName::HResult, sizeof(long)), 1);
    EXPECT_EQ(m_Seen.m_Value, Hresult);
}

TEST_F(ReportExceptionTest, UnknownTypesShowTheirFirstBytes)
{
    uint8_t Bytes[32];
    for (uint8_t Index = 0; Index < sizeof Bytes; ++Index)
        Bytes[Index] = static_cast<uint8_t>(Index * 17);
    Throw(Bytes, "7Unknown", 20);
    EXPECT_EQ(m_Lines.back(),
              L"Exception: Module " OSTREL_TEST_BINARY ", 20 bytes: 00 11 22 33 44 55 66 77 88 99 AA BB CC DD "
              L"EE FF 10 21 32 43, Type 7Unknown");
    Throw(Bytes, "7Unknown", 21);
    EXPECT_EQ(m_Lines.back(),
              L"Exception: Module " OSTREL_TEST_BINARY ", 21 bytes: 00 11 22 33 44 55 66 77 88 99 AA BB CC DD "
              L"EE FF 10 21 32 43..., Type 7Unknown");
    EXPECT_EQ(m_Code, L"0xE06D7363");
    EXPECT_EQ(m_Seen.m_Value, 0u);

    // An object that cannot be read, or has no size: module and type only,
    // whatever the type.
    Throw(nullptr, ThrownTypeName::HResult, 8);
    EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", Type " + std::wstring(L"l"));
    Throw(Bytes, "7Unknown", 0);
    EXPECT_EQ(m_Lines.back(), L"Exception: Module " OSTREL_TEST_BINARY ", Type 7Unknown");
    EXPECT_EQ(m_SeenBytes.size(), 0u);

    // An image base that no module holds drops the module.
    Throw(Bytes, "7Unknown", 1, 16);
    EXPECT_EQ(m_Lines.back(), L"Exception: 1 bytes: 00, Type 7Unknown");
    EXPECT_TRUE(m_Seen.m_ModulePath.empty());
}

TEST_F(ReportExceptionTest, OtherExceptionsTheFilterAndRuntimeMessages)
{
    EXCEPTION_RECORD Record = {};
    Record.ExceptionCode = 0xC0000005;
    std::wstring Code = L"0xC0000005";
    EXPECT_EQ(m_Debug.ReportException(GetCurrentProcess(), Record, Code), 1);
    EXPECT_EQ(m_Lines.back(), L"Exception: ");
    EXPECT_EQ(m_Seen.m_Value, 0xC0000005u);
    EXPECT_TRUE(m_Seen.m_ModulePath.empty() && m_Seen.m_TypeName.empty() && m_SeenBytes.empty());

    // A filter verdict of 0: no line and no dump.
    m_Verdict = 0;
    const size_t Lines = m_Lines.size();
    EXPECT_EQ(m_Debug.ReportException(GetCurrentProcess(), Record, Code), 0);
    const long Value = 5;
    EXPECT_EQ(Throw(&Value, ThrownTypeName::HResult, sizeof Value), 0);
    EXPECT_EQ(m_Lines.size(), Lines);

    // The runtime's message goes out as it stands, cut to 4,095 characters.
    const std::wstring Message = L"first " + std::wstring(9994, L'm');
    Record.ExceptionCode = 0x40080201;
    Record.NumberParameters = 3;
    Record.ExceptionInformation[1] = Message.size();
    Record.ExceptionInformation[2] = reinterpret_cast<ULONG_PTR>(Message.c_str());
    EXPECT_EQ(m_Debug.ReportException(GetCurrentProcess(), Record, Code), 0);
    EXPECT_EQ(m_Lines.back(), Message.substr(0, 4095));
    Record.ExceptionInformation[1] = 5;
    EXPECT_EQ(m_Debug.ReportException(GetCurrentProcess(), Record, Code), 0);
    EXPECT_EQ(m_Lines.back(), L"first");
}

TEST(ForwardDebugString, TrimsCutsAndDecodes)
{
    ParentProcessDebug Debug;
    std::vector<std::wstring> Lines;
    Debug.m_Output = [&](const wchar_t* Text) { Lines.emplace_back(Text); };
    auto Forward = [&](const void* Text, size_t Length, bool Wide) {
        OUTPUT_DEBUG_STRING_INFO Info = {};
        Info.lpDebugStringData = static_cast<LPSTR>(const_cast<void*>(Text));
        Info.fUnicode = Wide;
        Info.nDebugStringLength = static_cast<WORD>(Length);
        Debug.ForwardDebugString(GetCurrentProcess(), Info);
    };
    const std::wstring Trailing = L"Done. Really.\r\n";
    Forward(Trailing.c_str(), Trailing.size() + 1, true);
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], L"Done. Really");
    const std::wstring Nothing = L" .\t\r\n. ";
    Forward(Nothing.c_str(), Nothing.size() + 1, true);
    EXPECT_EQ(Lines.size(), 1u);

    // Cut to 4,095 characters before trimming: the blank at 4,095 goes.
    const std::wstring Long = std::wstring(4094, L'a') + L" " + L"bcd";
    Forward(Long.c_str(), Long.size() + 1, true);
    EXPECT_EQ(Lines.back(), std::wstring(4094, L'a'));

    const char Narrow[] = "caf\xC3\xA9 ok.\n";
    Forward(Narrow, sizeof Narrow, false);
    EXPECT_EQ(Lines.back(), L"caf\u00E9 ok");
    // The text ends at its first NUL.
    const wchar_t Embedded[] = L"one\0two";
    Forward(Embedded, 8, true);
    EXPECT_EQ(Lines.back(), L"one");

    // Unreadable text is dropped; narrow text that is no UTF-8 fails.
    const size_t Count = Lines.size();
    Forward(reinterpret_cast<const void*>(16), 10, true);
    Forward(Trailing.c_str(), 0, true);
    EXPECT_EQ(Lines.size(), Count);
    const char Invalid[] = "bad \xC3(";
    EXPECT_THROW(Forward(Invalid, sizeof Invalid, false), long);
}

TEST(ParentProcessDebug, DebugsItsParentOnly)
{
    // A process that is not this one's parent is refused before anything
    // attaches to it.
    std::wstring Line = L"sleep 10";
    STARTUPINFOW StartupInfo = {};
    StartupInfo.cb = sizeof StartupInfo;
    PROCESS_INFORMATION Stranger = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, Line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &StartupInfo, &Stranger));
    ParentProcessDebug Debug;
    long Result = 0;
    try
    {
        Debug.Run(Stranger.dwProcessId, 0, nullptr);
    }
    catch (long Thrown)
    {
        Result = Thrown;
    }
    EXPECT_EQ(Result, E_ACCESSDENIED);
    EXPECT_EQ(TracerOf(Stranger.dwProcessId), 0);
    EXPECT_EQ(ParentProcessId(), static_cast<DWORD>(getppid()));
    kill(static_cast<pid_t>(Stranger.dwProcessId), SIGKILL);
    WaitForSingleObject(Stranger.hProcess, INFINITE);
    CloseHandle(Stranger.hThread);
    CloseHandle(Stranger.hProcess);
}

TEST(ParentProcessDebug, ModuleFileNameIsTheWholePath)
{
    const std::wstring& Path = ModuleFileName();
    EXPECT_EQ(Path[0], L'/');
    EXPECT_STREQ(PathFindFileNameW(Path.c_str()), L"" OSTREL_TEST_BINARY);
    EXPECT_EQ(&ModuleFileName(), &Path);
}

TEST(UniqueHandleDeathTest, AHandleThatCannotBeClosedEndsTheProcess)
{
    EXPECT_DEATH(
        {
            const HANDLE Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            UniqueHandle Holder(Event);
            CloseHandle(Event); // behind the holder's back
            Holder.reset();
            std::fputs("went on\n", stderr);
            std::exit(0);
        },
        "");
}
