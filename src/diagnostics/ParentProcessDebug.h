// Self-debugging: with -Debug the tool starts a second copy of itself that
// attaches as its debugger, forwards its debug output to the console,
// describes its exceptions and writes minidumps beside the executable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include <dbghelp.h>

#include "Arguments.h"

// Decorated names of thrown types as the compiler's throw information gives
// them, for the types that exceptions are recognised by.
namespace ThrownTypeName {
#ifdef _MSC_VER
constexpr const char* HResult = ".J";
constexpr const char* ComError = ".?AV_com_error@@";
constexpr const char* AtlException = ".?AVCAtlException@ATL@@";
#else
constexpr const char* HResult = "l";
constexpr const char* ComError = "10_com_error";
constexpr const char* AtlException = "N3ATL13CAtlExceptionE";
#endif
} // namespace ThrownTypeName

class ParentProcessDebug
{
public:
    // What the parent hands from its option scan to the launch.
    struct Settings
    {
        uint32_t m_MinidumpType = 0;
        uint32_t m_DisableDebugOutput = 0;
    };

    // The facts about one exception that the filter judges.
    struct ExceptionData
    {
        std::wstring m_ModulePath;
        std::string m_TypeName;
        const uint8_t* m_Data = nullptr;
        size_t m_DataSize = 0;
        uint32_t m_Value = 0;
    };

    ParentProcessDebug() = default;
    ParentProcessDebug(const ParentProcessDebug&) = delete;
    ParentProcessDebug& operator=(const ParentProcessDebug&) = delete;

    // Parent side: starts the debugging child when the arguments hold -Debug.
    // A child that cannot be started, or that ends or does not attach within
    // five seconds, is thrown as an HRESULT (long): the run never goes on
    // without the debugger that it asked for.
    static void Enable(const Arguments& Arguments);
    static void StartChild(const Settings& Settings);
    // Child side: true when this process was the debugging child and its
    // debugger has run to its end.
    static BOOL RunChild(const Arguments& Arguments, std::function<void(ParentProcessDebug&)> Configure);

    // The debug loop. Failing to attach is thrown as an HRESULT (long), and
    // so is a process id other than the parent's (E_ACCESSDENIED).
    void Run(DWORD ProcessId, DWORD MinidumpType, HANDLE Event);
    // Describes an exception through m_Output unless the filter ignores it;
    // non-zero when a minidump is wanted. May replace CodeText with the
    // HRESULT that a thrown object carries.
    int ReportException(HANDLE Process, const EXCEPTION_RECORD& Record, std::wstring& CodeText);
    // Writes the dump beside the executable; failures are traced and thrown
    // as an HRESULT (long). A failed dump does not end the session: Run says
    // on standard error which dump is missing and why.
    static void WriteMinidump(DWORD ProcessId, HANDLE Process, DWORD ThreadId, const EXCEPTION_RECORD& Record,
                              const std::vector<std::wstring>& NameParts, MINIDUMP_TYPE MinidumpType);

    // The pieces of the above, on their own.
    // Reads -DisableDebugOutput and -Debug[:type]; false without -Debug.
    static bool ReadSettings(const Arguments& Arguments, Settings& Settings);
    static std::wstring ChildCommandLine(const wchar_t* ExecutablePath, const Settings& Settings, DWORD ProcessId,
                                         HANDLE Event);
    // Reads the child's arguments; false when this is no debugging child.
    static bool ReadChildArguments(const Arguments& Arguments, uint32_t& DisableDebugOutput, DWORD& ProcessId,
                                   DWORD& MinidumpType, HANDLE& Event);
    // Reads, trims and forwards one debug string of the debugged process.
    void ForwardDebugString(HANDLE Process, const OUTPUT_DEBUG_STRING_INFO& DebugString);
    // "0x%08X" of the exception code (of the first parameter for .NET).
    static std::wstring CodeText(const EXCEPTION_RECORD& Record);
    static std::vector<std::wstring> DumpNameParts(DWORD ProcessId, uint32_t DumpNumber, const std::wstring& CodeText);
    // Where WriteMinidump puts the dump of these name parts.
    static std::wstring MinidumpPath(const std::vector<std::wstring>& NameParts);
    // The same name in the current folder, where a dump goes when the
    // executable's folder takes none; empty when the folder is not known.
    static std::wstring CurrentFolderMinidumpPath(const std::vector<std::wstring>& NameParts);
    // The line on standard error that tells of a dump that was not written.
    static std::string MinidumpFailureLine(const std::wstring& Path, HRESULT Result);
    // The line that tells of a dump written to the current folder.
    static std::string MinidumpElsewhereLine(const std::wstring& Path);

    uint32_t m_DisableDebugOutput = 0;
    std::function<void(const wchar_t*)> m_Output;
    std::function<int(const ExceptionData&)> m_ExceptionFilter;
};

// The executable's full path, read once: a path of any length, and dumps
// keep the name that the process started with.
const std::wstring& ModuleFileName();

// The id of the process that started this one, or 0 when unknown.
DWORD ParentProcessId();

// The items with Separator between neighbours.
std::wstring Join(const std::vector<std::wstring>& Items, const wchar_t* Separator);

// The tool's configuration of the debugger: console output and its filter.
void ConfigureParentProcessDebug(ParentProcessDebug& Debug);
// Writes the text and a line end to the wide standard output, and flushes.
void WriteDebugOutput(const wchar_t* Text);
// 0 for the exceptions that are known noise, 1 for the others.
int FilterException(const ParentProcessDebug::ExceptionData& Data);
