// Self-debugging: the start-up on both sides and the debug loop.

#include "ParentProcessDebug.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include <shlwapi.h>
#include <winternl.h>

#include "Check.h"
#include "Trace.h"
#include "UniqueHandle.h"

namespace {

[[noreturn]] void ThrowLastError() { throw static_cast<long>(HRESULT_FROM_WIN32(GetLastError())); }

// Debug strings are read into one buffer of this many characters.
constexpr size_t DebugStringBufferSize = 4096;
// The longest path that the platform knows of, in characters.
constexpr size_t MaximumPathLength = 32768;

} // namespace

bool ParentProcessDebug::ReadSettings(const Arguments& Arguments, Settings& Settings)
{
    Settings = {};
    std::wstring Name, Value;
    for (const std::wstring& Argument : Arguments)
    {
        if (!ParseOption(Argument, Name, Value))
            continue;
        if (_wcsicmp(Name.c_str(), L"DisableDebugOutput") == 0)
            Settings.m_DisableDebugOutput = 1;
        else if (_wcsicmp(Name.c_str(), L"Debug") == 0)
        {
            // Only what stands before the first -Debug counts.
            int Type = 0;
            if (Value.empty() || _wcsicmp(Value.c_str(), L"Normal") == 0)
                Type = MiniDumpNormal;
            else if (_wcsicmp(Value.c_str(), L"Full") == 0)
                Type = MiniDumpWithFullMemory | MiniDumpWithHandleData | MiniDumpWithUnloadedModules |
                       MiniDumpWithFullMemoryInfo | MiniDumpWithThreadInfo;
            else if (!StrToIntExW(Value.c_str(), STIF_SUPPORT_HEX, &Type))
                Type = 0;
            Settings.m_MinidumpType = static_cast<uint32_t>(Type);
            return true;
        }
    }
    return false;
}

void ParentProcessDebug::Enable(const Arguments& Arguments)
{
    Settings Settings;
    if (ReadSettings(Arguments, Settings))
        StartChild(Settings);
}

std::wstring ParentProcessDebug::ChildCommandLine(const wchar_t* ExecutablePath, const Settings& Settings,
                                                  DWORD ProcessId, HANDLE Event)
{
    // A quote in the path is doubled: the program path is read back up to
    // the first single quote.
    std::wstring CommandLine = L"\"";
    for (const wchar_t* Character = ExecutablePath; *Character; ++Character)
        CommandLine.append(*Character == L'"' ? 2 : 1, *Character);
    CommandLine += L"\"";
    if (Settings.m_DisableDebugOutput)
        CommandLine += L" -DisableDebugOutput";
    CommandLine +=
        FormatW(L" -ParentProcessDebug %d %d %d", static_cast<int>(ProcessId),
                static_cast<int>(Settings.m_MinidumpType), static_cast<int>(reinterpret_cast<intptr_t>(Event)));
    return CommandLine;
}

void ParentProcessDebug::StartChild(const Settings& Settings)
{
    if (IsDebuggerPresent())
        return;
    SECURITY_ATTRIBUTES Attributes = {sizeof Attributes, nullptr, TRUE};
    UniqueHandle Event(CreateEventW(&Attributes, TRUE, FALSE, nullptr));
    const std::wstring& Path = ModuleFileName();
    std::wstring CommandLine = ChildCommandLine(Path.c_str(), Settings, GetCurrentProcessId(), Event.get());
    STARTUPINFOW StartupInfo = {};
    StartupInfo.cb = sizeof StartupInfo;
    PROCESS_INFORMATION ProcessInformation = {};
    // Without its debugger the run would look normal and be no debugged run.
    CheckWin32Bare(CreateProcessW(Path.c_str(), CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &StartupInfo, &ProcessInformation));
    UniqueHandle Process(ProcessInformation.hProcess);
    UniqueHandle(ProcessInformation.hThread).reset();
    // Without the event there is nothing to wait for. A child that ended or
    // did not attach within five seconds would leave the run undebugged as
    // surely as one that never started: the event alone says attached,
    // whatever ended the wait.
    if (Event)
    {
        const HANDLE Handles[] = {Process.get(), Event.get()};
        const DWORD Waited = WaitForMultipleObjects(2, Handles, FALSE, 5000);
        const HRESULT Result = HRESULT_FROM_WIN32(Waited == WAIT_TIMEOUT    ? ERROR_TIMEOUT
                                                  : Waited == WAIT_OBJECT_0 ? ERROR_PROCESS_ABORTED
                                                                            : GetLastError());
        const bool Attached = WaitForSingleObject(Event.get(), 0) == WAIT_OBJECT_0;
        CheckConditionBare(Attached, Result);
    }
}

bool ParentProcessDebug::ReadChildArguments(const Arguments& Arguments, uint32_t& DisableDebugOutput, DWORD& ProcessId,
                                            DWORD& MinidumpType, HANDLE& Event)
{
    DisableDebugOutput = 0;
    ProcessId = MinidumpType = 0;
    Event = nullptr;
    std::wstring Name, Value;
    for (size_t Index = 0; Index < Arguments.size(); ++Index)
    {
        if (!ParseOption(Arguments[Index], Name, Value))
            continue;
        if (Name == L"DisableDebugOutput")
            DisableDebugOutput = 1;
        else if (Name == L"ParentProcessDebug")
        {
            if (Index + 1 >= Arguments.size())
                return false;
            ProcessId = static_cast<DWORD>(_wtoi(Arguments[Index + 1].c_str()));
            if (ProcessId == 0)
                return false;
            if (Index + 2 < Arguments.size())
                MinidumpType = static_cast<DWORD>(_wtoi(Arguments[Index + 2].c_str()));
            if (Index + 3 < Arguments.size())
                Event = reinterpret_cast<HANDLE>(static_cast<intptr_t>(_wtoi(Arguments[Index + 3].c_str())));
            return true;
        }
    }
    return false;
}

BOOL ParentProcessDebug::RunChild(const Arguments& Arguments, std::function<void(ParentProcessDebug&)> Configure)
{
    ParentProcessDebug Debug;
    DWORD ProcessId = 0, MinidumpType = 0;
    HANDLE Event = nullptr;
    if (!ReadChildArguments(Arguments, Debug.m_DisableDebugOutput, ProcessId, MinidumpType, Event))
        return FALSE;
    if (Configure)
        Configure(Debug);
    Debug.Run(ProcessId, MinidumpType, Event);
    return TRUE;
}

void ParentProcessDebug::ForwardDebugString(HANDLE Process, const OUTPUT_DEBUG_STRING_INFO& DebugString)
{
    wchar_t Text[DebugStringBufferSize] = {};
    const size_t Length = std::min<size_t>(DebugString.nDebugStringLength, DebugStringBufferSize - 1);
    SIZE_T Read = 0;
    if (DebugString.fUnicode)
    {
        if (!ReadProcessMemory(Process, DebugString.lpDebugStringData, Text, Length * sizeof(wchar_t), &Read) ||
            Read == 0)
            return;
        Text[Read / sizeof(wchar_t)] = L'\0';
    }
    else
    {
        char Narrow[DebugStringBufferSize] = {};
        if (!ReadProcessMemory(Process, DebugString.lpDebugStringData, Narrow, Length, &Read) || Read == 0)
            return;
        Narrow[Read] = '\0';
        const int Size = static_cast<int>(strnlen(Narrow, Read));
        if (Size > 0)
        {
            const int Converted =
                MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Narrow, Size, Text, DebugStringBufferSize - 1);
            if (Converted == 0)
                ThrowLastError();
            Text[Converted] = L'\0';
        }
    }
    // Line ends, blanks and full stops at the end go.
    size_t End = wcslen(Text);
    while (End > 0 && wcschr(L"\t\n\r .", Text[End - 1]))
        --End;
    if (End == 0)
        return;
    Text[End] = L'\0';
    m_Output(Text);
}

void ParentProcessDebug::Run(DWORD ProcessId, DWORD MinidumpType, HANDLE Event)
{
    // The debugging child debugs the process that started it and no other.
    CheckConditionBare(ProcessId == ParentProcessId(), E_ACCESSDENIED);
    // Dumps are named after the executable as it is now, even when its file
    // is replaced during the run.
    ModuleFileName();
    if (!DebugActiveProcess(ProcessId))
        ThrowLastError();
    // The parent may have ended just before, and its id gone to another.
    if (ProcessId != ParentProcessId())
    {
        DebugActiveProcessStop(ProcessId);
        CheckConditionBare(ProcessId == ParentProcessId(), E_ACCESSDENIED);
    }
    if (Event)
        SetEvent(Event);

    UniqueHandle Process;
    enum class SymbolState
    {
        NotInitialized,
        Failed,
        Initialized,
    } Symbols = SymbolState::NotInitialized;
    uint32_t DumpCounter = 0;
    try
    {
        for (;;)
        {
            DEBUG_EVENT DebugEvent = {};
            if (!WaitForDebugEventEx(&DebugEvent, INFINITE))
                break;
            DWORD Status = DBG_CONTINUE;
            if (DebugEvent.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
                break;
            switch (DebugEvent.dwDebugEventCode)
            {
            case CREATE_PROCESS_DEBUG_EVENT:
            {
                const CREATE_PROCESS_DEBUG_INFO& Info = DebugEvent.u.CreateProcessInfo;
                UniqueHandle(Info.hFile).reset();
                if (!Process)
                {
                    HANDLE Duplicate = nullptr;
                    if (!DuplicateHandle(GetCurrentProcess(), Info.hProcess, GetCurrentProcess(), &Duplicate, 0, FALSE,
                                         DUPLICATE_SAME_ACCESS))
                        ThrowLastError();
                    Process.reset(Duplicate);
                    Symbols =
                        SymInitializeW(Process.get(), nullptr, FALSE) ? SymbolState::Initialized : SymbolState::Failed;
                }
                break;
            }
            case LOAD_DLL_DEBUG_EVENT: UniqueHandle(DebugEvent.u.LoadDll.hFile).reset(); break;
            case EXCEPTION_DEBUG_EVENT:
            {
                const EXCEPTION_RECORD& Record = DebugEvent.u.Exception.ExceptionRecord;
                if (Record.ExceptionCode == EXCEPTION_BREAKPOINT)
                    break;
                if (!Process)
                {
                    Process.reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ProcessId));
                    if (!Process)
                        ThrowLastError();
                }
                std::wstring Code = CodeText(Record);
                if (ReportException(Process.get(), Record, Code))
                {
                    const auto NameParts = DumpNameParts(ProcessId, DumpCounter++, Code);
                    try
                    {
                        WriteMinidump(DebugEvent.dwProcessId, Process.get(), DebugEvent.dwThreadId, Record, NameParts,
                                      static_cast<MINIDUMP_TYPE>(MinidumpType));
                    }
                    catch (long Result)
                    {
                        // Traced where it failed, and said to the user, who would
                        // look for the dump; the session goes on without it.
                        std::fputs(MinidumpFailureLine(MinidumpPath(NameParts), Result).c_str(), stderr);
                        std::fflush(stderr);
                    }
                }
                // The parent handles its exceptions as it would undebugged.
                Status = DBG_EXCEPTION_NOT_HANDLED;
                break;
            }
            case OUTPUT_DEBUG_STRING_EVENT:
                if (!m_DisableDebugOutput && m_Output)
                    ForwardDebugString(Process.get(), DebugEvent.u.DebugString);
                break;
            default: break;
            }
            if (!ContinueDebugEvent(DebugEvent.dwProcessId, DebugEvent.dwThreadId, Status))
                ThrowLastError();
        }
    }
    catch (...)
    {
        // Any failure ends the session; the parent runs on undebugged.
    }
    if (Symbols == SymbolState::Initialized)
        SymCleanup(Process.get());
    DebugActiveProcessStop(ProcessId);
}

namespace {

// A line about the dump at Path; a path of any length fits: a wide character
// takes at most four bytes.
template <typename... Values>
std::string MinidumpLine(const char* Pattern, const std::wstring& Path, Values... More)
{
    std::string Line(Path.size() * 4 + 128, '\0');
    const int Length = _snprintf_s(Line.data(), Line.size(), _TRUNCATE, Pattern, Path.c_str(), More...);
    Line.resize(Length > 0 ? static_cast<size_t>(Length) : 0);
    return Line;
}

} // namespace

std::string ParentProcessDebug::MinidumpFailureLine(const std::wstring& Path, HRESULT Result)
{
    return MinidumpLine("Ostrel: minidump %ls not written: 0x%08X\n", Path, static_cast<unsigned>(Result));
}

std::string ParentProcessDebug::MinidumpElsewhereLine(const std::wstring& Path)
{
    return MinidumpLine("Ostrel: minidump %ls written to the current folder: the executable's folder takes no files\n",
                        Path);
}

const std::wstring& ModuleFileName()
{
    static const std::wstring Path = [] {
        // The platform cuts a path that does not fit and reports the size
        // of the buffer: then the buffer grows.
        std::wstring Buffer(MAX_PATH, L'\0');
        for (;;)
        {
            const DWORD Length = GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
            if (Length < Buffer.size() || Buffer.size() >= MaximumPathLength)
            {
                Buffer.resize(std::min<size_t>(Length, Buffer.size()));
                return Buffer;
            }
            Buffer.resize(Buffer.size() * 2);
        }
    }();
    return Path;
}

DWORD ParentProcessId()
{
    PROCESS_BASIC_INFORMATION Information = {};
    if (!NT_SUCCESS(NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &Information,
                                              sizeof Information, nullptr)))
        return 0;
    return static_cast<DWORD>(Information.InheritedFromUniqueProcessId);
}

void WriteDebugOutput(const wchar_t* Text) { std::wcout << Text << std::endl; }

void ConfigureParentProcessDebug(ParentProcessDebug& Debug)
{
    Debug.m_Output = WriteDebugOutput;
    Debug.m_ExceptionFilter = FilterException;
}

int FilterException(const ParentProcessDebug::ExceptionData& Data)
{
    const wchar_t* FileName = PathFindFileNameW(Data.m_ModulePath.c_str());
    if (Data.m_ModulePath.empty() && Data.m_TypeName.empty() && Data.m_Value == 0x406D1388)
        return 0; // a thread gets a name
    const char* ComError = ThrownTypeName::ComError;
    if (_wcsicmp(FileName, L"D3DSCache.dll") == 0 && Data.m_TypeName == ComError &&
        (Data.m_Value == 0x80004005 || Data.m_Value == 0x887A0033))
        return 0; // the shader cache's own failures, which it handles
    if (_wcsicmp(FileName, L"d3d11.dll") != 0)
        return 1;
    if (Data.m_TypeName == ComError && (Data.m_Value == 0x80070057 || Data.m_Value == 0x887A0005))
        return 0;
    return 1;
}
