#include "MinidumpWriter.h"

#include <cerrno>
#include <cpuid.h>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/utsname.h>
#include <unistd.h>

#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include "Win32/Debugger.h"
#include "Win32/Utf8.h"
#include <winbase.h>

namespace Platform {

namespace {

// Stacks are kept from the stack pointer (less the red zone below it) to the
// end of their mapping, up to this much.
constexpr uint64_t RedZone = 128;
constexpr uint64_t MaximumStack = 8u << 20;
// How far below its stack an overflowing thread's stack pointer may lie: the
// gap that the system keeps below a stack (256 pages).
constexpr uint64_t MaximumStackGap = 1u << 20;
constexpr uint64_t PageSize = 4096;
// Room in the full memory list beyond two ranges a run: for runs that
// unreadable pages split further.
constexpr size_t SpareRanges = 256;

// The memory protections, states and types of the memory-info list.
constexpr ULONG32 PageNoAccess = 0x01, PageReadOnly = 0x02, PageReadWrite = 0x04;
constexpr ULONG32 PageExecute = 0x10, PageExecuteRead = 0x20, PageExecuteReadWrite = 0x40;
constexpr ULONG32 MemoryCommitted = 0x1000;
constexpr ULONG32 MemoryPrivate = 0x20000, MemoryMapped = 0x40000, MemoryImage = 0x1000000;
// The system information's product type of a workstation.
constexpr UCHAR ProductTypeWorkstation = 1;

ULONG32 Protection(const MemoryRegion& Region)
{
    if (Region.Execute)
        return Region.Write ? PageExecuteReadWrite : Region.Read ? PageExecuteRead : PageExecute;
    return Region.Write ? PageReadWrite : Region.Read ? PageReadOnly : PageNoAccess;
}

// Memory that is not the process's own: the kernel's pages, and devices,
// whose reads can have effects or hang.
bool IsDumpable(const MemoryRegion& Region)
{
    return Region.Read && Region.Name != "[vvar]" && Region.Name != "[vvar_vclock]" && Region.Name != "[vsyscall]" &&
           Region.Name.rfind("/dev/", 0) != 0;
}

// Linux minidumps carry the signal that stopped the thread where Windows
// ones carry the exception code; readers such as lldb go by it. Records that
// were raised in software stopped their thread for the debugger: a trap.
ULONG32 SignalFromException(DWORD Code)
{
    switch (Code)
    {
    case STATUS_ACCESS_VIOLATION: return SIGSEGV;
    case STATUS_IN_PAGE_ERROR:
    case STATUS_DATATYPE_MISALIGNMENT: return SIGBUS;
    case STATUS_ILLEGAL_INSTRUCTION:
    case STATUS_PRIVILEGED_INSTRUCTION: return SIGILL;
    case STATUS_FLOAT_DENORMAL_OPERAND:
    case STATUS_FLOAT_DIVIDE_BY_ZERO:
    case STATUS_FLOAT_INEXACT_RESULT:
    case STATUS_FLOAT_INVALID_OPERATION:
    case STATUS_FLOAT_OVERFLOW:
    case STATUS_FLOAT_STACK_CHECK:
    case STATUS_FLOAT_UNDERFLOW:
    case STATUS_INTEGER_DIVIDE_BY_ZERO:
    case STATUS_INTEGER_OVERFLOW: return SIGFPE;
    case STATUS_STACK_BUFFER_OVERRUN: return SIGABRT;
    default: return SIGTRAP;
    }
}

} // namespace

bool MinidumpWriter::Write(const MINIDUMP_EXCEPTION_INFORMATION* Exception)
{
    m_Regions = ReadMemoryMap(m_ProcessId, &m_MapsText);
    if (m_Regions.empty())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    m_Modules = FindModules(m_ProcessId, m_Regions);

    WriteSystemInfo();
    WriteMiscInfo();
    WriteThreads(Exception);
    WriteModules();
    if (Exception)
        WriteException(*Exception);
    m_File.AddStream(LinuxMapsStream, m_File.Append(m_MapsText.data(), m_MapsText.size()));
    WriteProcFile("status", LinuxProcStatusStream);
    WriteProcFile("cmdline", LinuxCmdLineStream);
    WriteProcFile("auxv", LinuxAuxvStream);
    if (m_Type & MiniDumpWithFullMemoryInfo)
        WriteMemoryInfo();
    if (m_Type & MiniDumpWithFullMemory)
        WriteFullMemory();
    else
        m_File.AddStream(MemoryListStream, m_File.AppendList(m_Stacks));
    if (!m_File.Finish(m_Type))
    {
        SetLastErrorFromErrno(m_File.Error());
        return false;
    }
    return true;
}

void MinidumpWriter::WriteSystemInfo()
{
    MINIDUMP_SYSTEM_INFO Info = {};
    Info.ProcessorArchitecture = ProcessorArchitectureAmd64;
    unsigned Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
    if (__get_cpuid(0, &Eax, &Ebx, &Ecx, &Edx))
    {
        Info.Cpu.X86CpuInfo.VendorId[0] = Ebx;
        Info.Cpu.X86CpuInfo.VendorId[1] = Edx;
        Info.Cpu.X86CpuInfo.VendorId[2] = Ecx;
    }
    if (__get_cpuid(1, &Eax, &Ebx, &Ecx, &Edx))
    {
        Info.Cpu.X86CpuInfo.VersionInformation = Eax;
        Info.Cpu.X86CpuInfo.FeatureInformation = Edx;
        // CPUID leaf 1's version: stepping, model, family, then the extended
        // model and family that families 6 and 15 add.
        const auto Field = [Eax](unsigned Shift, unsigned Bits) { return (Eax >> Shift) & ((1u << Bits) - 1); };
        unsigned Family = Field(8, 4), Model = Field(4, 4);
        if (Family == 0xF)
            Family += Field(20, 8);
        if (Family >= 6)
            Model += Field(16, 4) << 4;
        Info.ProcessorLevel = static_cast<USHORT>(Family);
        Info.ProcessorRevision = static_cast<USHORT>((Model << 8) | Field(0, 4));
    }
    const long Processors = sysconf(_SC_NPROCESSORS_CONF);
    Info.NumberOfProcessors = static_cast<UCHAR>(std::clamp<long>(Processors, 1, std::numeric_limits<UCHAR>::max()));
    Info.ProductType = ProductTypeWorkstation;
    Info.PlatformId = PlatformIdLinux;
    utsname Name = {};
    uname(&Name);
    std::sscanf(Name.release, "%u.%u.%u", &Info.MajorVersion, &Info.MinorVersion, &Info.BuildNumber);
    const std::string Version =
        std::string(Name.sysname) + " " + Name.release + " " + Name.version + " " + Name.machine;
    Info.CSDVersionRva = m_File.AppendString(WideFromUtf8(Version));
    m_File.AddStream(SystemInfoStream, m_File.Append(Info));
}

void MinidumpWriter::WriteMiscInfo()
{
    MINIDUMP_MISC_INFO Info = {};
    Info.SizeOfInfo = sizeof Info;
    Info.Flags1 = MINIDUMP_MISC1_PROCESS_ID;
    Info.ProcessId = static_cast<ULONG32>(m_ProcessId);
    m_File.AddStream(MiscInfoStream, m_File.Append(Info));
}

uint64_t MinidumpWriter::AppendMemory(uint64_t Address, uint64_t Size)
{
    const uint64_t Offset = m_File.End();
    uint64_t Done = 0;
    while (Done < Size && !m_File.Failed())
    {
        const size_t Want = static_cast<size_t>(std::min<uint64_t>(Size - Done, m_Buffer.size()));
        const size_t Read = ReadProcessBytes(m_ProcessId, Address + Done, m_Buffer.data(), Want);
        m_File.WriteAt(Offset + Done, m_Buffer.data(), Read);
        Done += Read;
        if (Read < Want)
            break;
    }
    // One piece: whole pages (as memory is read) keep pieces end to end.
    m_File.Reserve(Done);
    return Done;
}

MINIDUMP_MEMORY_DESCRIPTOR MinidumpWriter::WriteStack(uint64_t StackPointer)
{
    MINIDUMP_MEMORY_DESCRIPTOR Stack = {};
    // The readable region that holds the stack pointer or, after a stack
    // overflow, lies right above it: the pointer is then in the gap below
    // the stack's mapping or in a thread stack's guard page.
    for (const MemoryRegion& Region : m_Regions)
    {
        if (Region.End <= StackPointer || !Region.Read)
            continue;
        if (Region.Start > StackPointer && Region.Start - StackPointer > MaximumStackGap)
            break;
        const uint64_t Start = StackPointer >= Region.Start + RedZone ? StackPointer - RedZone : Region.Start;
        const uint64_t End = std::min(Region.End, Start + MaximumStack);
        const uint64_t Offset = m_File.End();
        const uint64_t Read = AppendMemory(Start, End - Start);
        if (Read == 0)
            break;
        Stack.StartOfMemoryRange = Start;
        Stack.Memory = {static_cast<ULONG32>(Read), static_cast<RVA>(Offset)};
        m_Stacks.push_back(Stack);
        break;
    }
    return Stack;
}

void MinidumpWriter::WriteThreads(const MINIDUMP_EXCEPTION_INFORMATION* Exception)
{
    std::vector<MINIDUMP_THREAD> Threads;
    for (pid_t ThreadId : ProcessDebugger().StoppedThreads())
    {
        CONTEXT Context = {};
        Context.ContextFlags = CONTEXT_ALL;
        if (!ReadThreadContext(ThreadId, Context))
            continue;
        MINIDUMP_THREAD Thread = {};
        Thread.ThreadId = static_cast<ULONG32>(ThreadId);
        Thread.Stack = WriteStack(Context.Rsp);
        // The exception's thread shows where it was raised.
        if (Exception && Exception->ThreadId == static_cast<DWORD>(ThreadId) && Exception->ExceptionPointers &&
            Exception->ExceptionPointers->ContextRecord)
            Context = *Exception->ExceptionPointers->ContextRecord;
        Thread.ThreadContext = m_File.Append(Context);
        Threads.push_back(Thread);
    }
    m_File.AddStream(ThreadListStream, m_File.AppendList(Threads));
}

void MinidumpWriter::WriteModules()
{
    std::vector<MINIDUMP_MODULE> Modules;
    for (const ModuleImage& Image : m_Modules)
    {
        MINIDUMP_MODULE Module = {};
        Module.BaseOfImage = Image.Base;
        Module.SizeOfImage = static_cast<ULONG32>(Image.Size);
        Module.ModuleNameRva = m_File.AppendString(WideFromUtf8(Image.Path));
        if (!Image.BuildId.empty())
        {
            std::vector<char> Record(sizeof(ULONG32) + Image.BuildId.size());
            std::memcpy(Record.data(), &CodeViewElfBuildIdSignature, sizeof(ULONG32));
            std::memcpy(Record.data() + sizeof(ULONG32), Image.BuildId.data(), Image.BuildId.size());
            Module.CvRecord = m_File.Append(Record.data(), Record.size());
        }
        Modules.push_back(Module);
    }
    m_File.AddStream(ModuleListStream, m_File.AppendList(Modules));
}

void MinidumpWriter::WriteException(const MINIDUMP_EXCEPTION_INFORMATION& Exception)
{
    MINIDUMP_EXCEPTION_STREAM Stream = {};
    Stream.ThreadId = Exception.ThreadId;
    if (Exception.ExceptionPointers && Exception.ExceptionPointers->ExceptionRecord)
    {
        const EXCEPTION_RECORD& Record = *Exception.ExceptionPointers->ExceptionRecord;
        Stream.ExceptionRecord.ExceptionCode = SignalFromException(Record.ExceptionCode);
        Stream.ExceptionRecord.ExceptionFlags = Record.ExceptionFlags;
        Stream.ExceptionRecord.ExceptionAddress = reinterpret_cast<ULONG64>(Record.ExceptionAddress);
        Stream.ExceptionRecord.NumberParameters = Record.NumberParameters < EXCEPTION_MAXIMUM_PARAMETERS
                                                      ? Record.NumberParameters
                                                      : EXCEPTION_MAXIMUM_PARAMETERS;
        for (DWORD Index = 0; Index < Stream.ExceptionRecord.NumberParameters; ++Index)
            Stream.ExceptionRecord.ExceptionInformation[Index] = Record.ExceptionInformation[Index];
    }
    if (Exception.ExceptionPointers && Exception.ExceptionPointers->ContextRecord)
        Stream.ThreadContext = m_File.Append(*Exception.ExceptionPointers->ContextRecord);
    m_File.AddStream(ExceptionStream, m_File.Append(Stream));
}

void MinidumpWriter::WriteProcFile(const char* Name, ULONG32 Type)
{
    const std::string Text = ReadProcessFile(m_ProcessId, Name);
    if (!Text.empty())
        m_File.AddStream(Type, m_File.Append(Text.data(), Text.size()));
}

void MinidumpWriter::WriteMemoryInfo()
{
    std::vector<char> List(sizeof(MINIDUMP_MEMORY_INFO_LIST) + m_Regions.size() * sizeof(MINIDUMP_MEMORY_INFO));
    MINIDUMP_MEMORY_INFO_LIST Header = {sizeof Header, sizeof(MINIDUMP_MEMORY_INFO), m_Regions.size()};
    std::memcpy(List.data(), &Header, sizeof Header);
    char* Cursor = List.data() + sizeof Header;
    for (const MemoryRegion& Region : m_Regions)
    {
        MINIDUMP_MEMORY_INFO Info = {};
        Info.BaseAddress = Region.Start;
        Info.AllocationBase = Region.Start;
        Info.AllocationProtect = Protection(Region);
        Info.RegionSize = Region.End - Region.Start;
        Info.State = MemoryCommitted;
        Info.Protect = Info.AllocationProtect;
        bool Image = false;
        for (const ModuleImage& Module : m_Modules)
            Image = Image || (Region.Start >= Module.Base && Region.Start - Module.Base < Module.Size);
        Info.Type = Image ? MemoryImage : !Region.Name.empty() && Region.Name[0] == '/' ? MemoryMapped : MemoryPrivate;
        std::memcpy(Cursor, &Info, sizeof Info);
        Cursor += sizeof Info;
    }
    m_File.AddStream(MemoryInfoListStream, m_File.Append(List.data(), List.size()));
}

void MinidumpWriter::WriteFullMemory()
{
    // Only the pages that hold data, present or swapped out: what was never
    // touched reads as zeros and is left out, so that the dump follows the
    // process's resident memory, not its address space. Without a page map
    // a region is taken whole.
    std::vector<AddressRange> Runs;
    for (const MemoryRegion& Region : m_Regions)
        if (IsDumpable(Region) && !FindPopulatedPages(m_ProcessId, Region.Start, Region.End, Runs))
            Runs.push_back({Region.Start, Region.End});

    // The list comes first with room for every run and then some for runs
    // split around unreadable pages; the data follows the directory and may
    // pass 4 GiB, which only this list can address.
    const size_t Capacity = Runs.size() * 2 + SpareRanges;
    const size_t ListSize = 2 * sizeof(ULONG64) + Capacity * sizeof(MINIDUMP_MEMORY_DESCRIPTOR64);
    const uint64_t ListOffset = m_File.Reserve(ListSize);
    m_File.AddStream(Memory64ListStream, {0, static_cast<RVA>(ListOffset)});
    const size_t StreamIndex = m_File.Streams().size() - 1;
    m_File.ReserveDirectory();

    const uint64_t BaseRva = m_File.End();
    std::vector<MINIDUMP_MEMORY_DESCRIPTOR64> Ranges;
    uint64_t RangeEnd = 0; // where the last range ends in memory
    for (const AddressRange& Run : Runs)
    {
        for (uint64_t Address = Run.Start; Address < Run.End && !m_File.Failed();)
        {
            if (Ranges.empty() || RangeEnd != Address)
            {
                if (Ranges.size() == Capacity)
                    break;
                Ranges.push_back({Address, 0});
            }
            const uint64_t Read = AppendMemory(Address, Run.End - Address);
            Ranges.back().DataSize += Read;
            // An unreadable page ends the range.
            Address += Read ? Read : PageSize;
            RangeEnd = Read ? Address : 0;
            if (Ranges.back().DataSize == 0)
                Ranges.pop_back();
        }
    }
    std::vector<char> List(2 * sizeof(ULONG64) + Ranges.size() * sizeof(MINIDUMP_MEMORY_DESCRIPTOR64));
    const ULONG64 Count = Ranges.size();
    std::memcpy(List.data(), &Count, sizeof Count);
    std::memcpy(List.data() + sizeof Count, &BaseRva, sizeof BaseRva);
    if (!Ranges.empty())
        std::memcpy(List.data() + 2 * sizeof(ULONG64), Ranges.data(), Ranges.size() * sizeof Ranges[0]);
    m_File.WriteAt(ListOffset, List.data(), List.size());
    m_File.Streams()[StreamIndex].Location.DataSize = static_cast<ULONG32>(List.size());
}

} // namespace Platform

BOOL MiniDumpWriteDump(HANDLE Process, DWORD ProcessId, HANDLE File, MINIDUMP_TYPE DumpType,
                       PMINIDUMP_EXCEPTION_INFORMATION ExceptionParam,
                       PMINIDUMP_USER_STREAM_INFORMATION UserStreamParam, PMINIDUMP_CALLBACK_INFORMATION CallbackParam)
{
    Platform::HandleObject ProcessObject, FileObject;
    if (!Platform::FindHandle(Process, Platform::HandleKind::Process, ProcessObject) ||
        !Platform::FindHandle(File, Platform::HandleKind::File, FileObject))
        return FALSE;
    if (ProcessObject.ProcessId != static_cast<pid_t>(ProcessId))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (UserStreamParam || CallbackParam || (ExceptionParam && ExceptionParam->ClientPointers))
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    // The threads must stand still: only a process debugged here qualifies.
    if (!Platform::ProcessDebugger().IsDebuggee(ProcessObject.ProcessId))
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    Platform::MinidumpWriter Writer(FileObject.Fd, ProcessObject.ProcessId, DumpType);
    return Writer.Write(ExceptionParam) ? TRUE : FALSE;
}
