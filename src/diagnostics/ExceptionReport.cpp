// Exception lines and minidumps of the debugging child.

#include <algorithm>
#include <cstring>

#include <ehdata.h>
#include <shlwapi.h>

#include "Check.h"
#include "ParentProcessDebug.h"
#include "Trace.h"
#include "UniqueHandle.h"

namespace {

constexpr DWORD OriginateErrorCode = 0x40080201;
constexpr DWORD DotNetExceptionCode = 0xE0434352;
// At most this much of a thrown object is copied.
constexpr size_t MaximumObjectSize = 8192;
// The type name is read into a buffer this large and cut to one character less.
constexpr size_t TypeNameBufferSize = 1024;
constexpr size_t MaximumTypeNameLength = 1008;
constexpr size_t MessageBufferSize = 4096;

struct KnownType
{
    const char* m_Name;
    const wchar_t* m_DisplayName;
    size_t m_ValueOffset;
    size_t m_MinimumSize;
    bool m_ExactSize;
};

// A thrown long is an HRESULT; _com_error keeps it after its virtual-table
// pointer, CAtlException first.
const KnownType KnownTypes[] = {
    {ThrownTypeName::HResult, L"HRESULT", 0, sizeof(long), true},
    {ThrownTypeName::ComError, L"_com_error", sizeof(void*), sizeof(void*) + 4, false},
    {ThrownTypeName::AtlException, L"ATL::CAtlException", 0, 4, false},
};

} // namespace

std::wstring Join(const std::vector<std::wstring>& Items, const wchar_t* Separator)
{
    std::wstring Result;
    for (size_t Index = 0; Index < Items.size(); ++Index)
    {
        if (Index)
            Result += Separator;
        Result += Items[Index];
    }
    return Result;
}

std::wstring ParentProcessDebug::CodeText(const EXCEPTION_RECORD& Record)
{
    DWORD Code = Record.ExceptionCode;
    if (Code == DotNetExceptionCode && Record.NumberParameters >= 5)
        Code = static_cast<DWORD>(Record.ExceptionInformation[0]);
    return FormatW(L"0x%08X", Code);
}

std::vector<std::wstring> ParentProcessDebug::DumpNameParts(DWORD ProcessId, uint32_t DumpNumber,
                                                            const std::wstring& CodeText)
{
    std::vector<std::wstring> Parts = {PathFindFileNameW(ModuleFileName().c_str()),
                                       FormatW(L"%d", static_cast<int>(ProcessId)), L"DebugException",
                                       FormatW(L"%d", static_cast<int>(DumpNumber))};
    if (!CodeText.empty())
        Parts.push_back(CodeText);
    return Parts;
}

int ParentProcessDebug::ReportException(HANDLE Process, const EXCEPTION_RECORD& Record, std::wstring& CodeText)
{
    if (Record.ExceptionCode == OriginateErrorCode)
    {
        // The Windows Runtime's message, passed on as it stands; no dump.
        if (!m_Output)
            return 0;
        wchar_t Message[MessageBufferSize] = {};
        const size_t Length = static_cast<uint32_t>(Record.ExceptionInformation[1]);
        const size_t Bytes = std::min(Length * sizeof(wchar_t), sizeof Message);
        if (!ReadProcessMemory(Process, reinterpret_cast<LPCVOID>(Record.ExceptionInformation[2]), Message, Bytes,
                               nullptr))
            return 0;
        Message[std::min(Length, MessageBufferSize - 1)] = L'\0';
        m_Output(Message);
        return 0;
    }

    ExceptionData Data;
    std::vector<std::wstring> Items;
    std::vector<uint8_t> Object;
    if (Record.ExceptionCode != EH_EXCEPTION_NUMBER)
        Data.m_Value = Record.ExceptionCode;
    else
    {
        const auto ObjectAddress = Record.ExceptionInformation[1];
        const auto ThrowInfoAddress = Record.ExceptionInformation[2];
        const auto ImageBase = Record.ExceptionInformation[3];

        SymRefreshModuleList(Process);
        IMAGEHLP_MODULEW64 Module;
        std::memset(&Module, 0, sizeof Module);
        Module.SizeOfStruct = sizeof Module;
        if (SymGetModuleInfoW64(Process, ImageBase, &Module))
            Data.m_ModulePath = Module.ImageName;

        // The reads are not checked: what fails to read stays zero, which
        // gives an empty name and an unknown size.
        ThrowInfo Info = {};
        ReadProcessMemory(Process, reinterpret_cast<LPCVOID>(ThrowInfoAddress), &Info, sizeof Info, nullptr);
        char TypeName[TypeNameBufferSize] = {};
        if (Info.pTypeName)
            ReadProcessMemory(Process, reinterpret_cast<LPCVOID>(Info.pTypeName), TypeName, sizeof TypeName, nullptr);
        Data.m_TypeName.assign(TypeName, strnlen(TypeName, MaximumTypeNameLength));

        if (!Data.m_ModulePath.empty())
            Items.push_back(FormatW(L"Module %ls", PathFindFileNameW(Data.m_ModulePath.c_str())));

        const size_t Size = static_cast<size_t>(Info.ObjectSize);
        if (Size != 0)
        {
            Object.resize(std::min(Size, MaximumObjectSize));
            SIZE_T Read = 0;
            if (ReadProcessMemory(Process, reinterpret_cast<LPCVOID>(ObjectAddress), Object.data(), Object.size(),
                                  &Read))
            {
                Data.m_Data = Object.data();
                Data.m_DataSize = Read;
            }
        }

        const KnownType* Known = nullptr;
        if (Data.m_Data)
            for (const KnownType& Type : KnownTypes)
                if (Data.m_TypeName == Type.m_Name)
                    Known = &Type;
        if (Known)
        {
            Items.push_back(Known->m_DisplayName);
            const bool Fits =
                Known->m_ExactSize ? Data.m_DataSize == Known->m_MinimumSize : Data.m_DataSize >= Known->m_MinimumSize;
            if (Fits)
            {
                const uint8_t* Bytes = Data.m_Data + Known->m_ValueOffset;
                Data.m_Value = static_cast<uint32_t>(Bytes[0]) | static_cast<uint32_t>(Bytes[1]) << 8 |
                               static_cast<uint32_t>(Bytes[2]) << 16 | static_cast<uint32_t>(Bytes[3]) << 24;
                CodeText = FormatW(L"0x%08X", Data.m_Value);
                Items.push_back(CodeText);
            }
        }
        else
        {
            if (Data.m_DataSize > 0)
            {
                std::wstring Bytes = FormatW(L"%d bytes: ", static_cast<int>(Data.m_DataSize));
                for (size_t Index = 0; Index < std::min<size_t>(Data.m_DataSize, 20); ++Index)
                    Bytes += FormatW(L"%02X ", Data.m_Data[Index]);
                Bytes.pop_back();
                if (Data.m_DataSize > 20)
                    Bytes += L"...";
                Items.push_back(Bytes);
            }
            if (!Data.m_TypeName.empty())
                Items.push_back(FormatW(L"Type %hs", Data.m_TypeName.c_str()));
        }
    }

    if (m_ExceptionFilter && !m_ExceptionFilter(Data))
        return 0;
    m_Output(FormatW(L"Exception: %ls", Join(Items, L", ").c_str()).c_str());
    return 1;
}

std::wstring ParentProcessDebug::MinidumpPath(const std::vector<std::wstring>& NameParts)
{
    // Beside the executable: its folder, separator included, and the name.
    const std::wstring& Executable = ModuleFileName();
    return Executable.substr(0, PathFindFileNameW(Executable.c_str()) - Executable.c_str()) + Join(NameParts, L"-") +
           L".dmp";
}

std::wstring ParentProcessDebug::CurrentFolderMinidumpPath(const std::vector<std::wstring>& NameParts)
{
    wchar_t Folder[4096];
    const DWORD Length = GetCurrentDirectoryW(static_cast<DWORD>(std::size(Folder)), Folder);
    if (Length == 0 || Length >= std::size(Folder))
        return {};
    std::wstring Path(Folder, Length);
    if (Path.back() != L'/' && Path.back() != L'\\')
        Path += Path.find(L'\\') != std::wstring::npos ? L'\\' : L'/';
    return Path + Join(NameParts, L"-") + L".dmp";
}

void ParentProcessDebug::WriteMinidump(DWORD ProcessId, HANDLE Process, DWORD ThreadId, const EXCEPTION_RECORD& Record,
                                       const std::vector<std::wstring>& NameParts, MINIDUMP_TYPE MinidumpType)
{
    std::wstring Path = MinidumpPath(NameParts);
    HANDLE FileHandle = CreateFileW(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    // An executable's folder that the user may not write (an installed copy
    // run by a user): the dump goes to the current folder instead, and the
    // user is told where.
    const std::wstring Here = CurrentFolderMinidumpPath(NameParts);
    bool Elsewhere =
        FileHandle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED && !Here.empty() && Here != Path;
    if (Elsewhere)
    {
        FileHandle = CreateFileW(Here.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FileHandle != INVALID_HANDLE_VALUE)
            Path = Here;
        else
        {
            Elsewhere = false;
            SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    CheckWin32Bare(FileHandle != INVALID_HANDLE_VALUE);
    UniqueHandle File(FileHandle);
    UniqueHandle Thread;
    bool Written = false;
    if (ThreadId)
    {
        Thread.reset(OpenThread(THREAD_GET_CONTEXT, FALSE, ThreadId));
        if (Thread)
        {
            CONTEXT Context;
            std::memset(&Context, 0, sizeof Context);
            Context.ContextFlags = CONTEXT_ALL;
            if (GetThreadContext(Thread.get(), &Context))
            {
                EXCEPTION_POINTERS Pointers = {const_cast<EXCEPTION_RECORD*>(&Record), &Context};
                MINIDUMP_EXCEPTION_INFORMATION Exception = {ThreadId, &Pointers, FALSE};
                Written = MiniDumpWriteDump(Process, ProcessId, File.get(), MinidumpType, &Exception, nullptr, nullptr);
            }
        }
    }
    Written = Written || MiniDumpWriteDump(Process, ProcessId, File.get(), MinidumpType, nullptr, nullptr, nullptr);
    if (!Written)
    {
        // A dump cut short (a full disk) would not open; it is not left
        // behind. The failure is traced with the writer's error.
        const DWORD Error = GetLastError();
        File.reset();
        DeleteFileW(Path.c_str());
        SetLastError(Error);
    }
    CheckWin32Bare(Written);
    if (Elsewhere)
    {
        std::fputs(MinidumpElsewhereLine(Path).c_str(), stderr);
        std::fflush(stderr);
    }
}
