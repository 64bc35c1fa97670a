// The minidump file format and its writer.
#pragma once

#include <minwindef.h>
#include <winnt.h>

typedef uint32_t ULONG32;
typedef DWORD RVA;
typedef ULONG64 RVA64;

constexpr ULONG32 MINIDUMP_SIGNATURE = 0x504D444D; // "MDMP"
constexpr ULONG32 MINIDUMP_VERSION = 42899;

#pragma pack(push, 4)

struct MINIDUMP_LOCATION_DESCRIPTOR
{
    ULONG32 DataSize;
    RVA Rva;
};

struct MINIDUMP_MEMORY_DESCRIPTOR
{
    ULONG64 StartOfMemoryRange;
    MINIDUMP_LOCATION_DESCRIPTOR Memory;
};

struct MINIDUMP_MEMORY_DESCRIPTOR64
{
    ULONG64 StartOfMemoryRange;
    ULONG64 DataSize;
};

struct MINIDUMP_HEADER
{
    ULONG32 Signature;
    ULONG32 Version;
    ULONG32 NumberOfStreams;
    RVA StreamDirectoryRva;
    ULONG32 CheckSum;
    ULONG32 TimeDateStamp;
    ULONG64 Flags;
};

struct MINIDUMP_DIRECTORY
{
    ULONG32 StreamType;
    MINIDUMP_LOCATION_DESCRIPTOR Location;
};

enum MINIDUMP_STREAM_TYPE : ULONG32
{
    UnusedStream = 0,
    ThreadListStream = 3,
    ModuleListStream = 4,
    MemoryListStream = 5,
    ExceptionStream = 6,
    SystemInfoStream = 7,
    Memory64ListStream = 9,
    MiscInfoStream = 15,
    MemoryInfoListStream = 16,
};

struct MINIDUMP_THREAD
{
    ULONG32 ThreadId;
    ULONG32 SuspendCount;
    ULONG32 PriorityClass;
    ULONG32 Priority;
    ULONG64 Teb;
    MINIDUMP_MEMORY_DESCRIPTOR Stack;
    MINIDUMP_LOCATION_DESCRIPTOR ThreadContext;
};

struct MINIDUMP_EXCEPTION
{
    ULONG32 ExceptionCode;
    ULONG32 ExceptionFlags;
    ULONG64 ExceptionRecord;
    ULONG64 ExceptionAddress;
    ULONG32 NumberParameters;
    ULONG32 __unusedAlignment;
    ULONG64 ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

struct MINIDUMP_EXCEPTION_STREAM
{
    ULONG32 ThreadId;
    ULONG32 __alignment;
    MINIDUMP_EXCEPTION ExceptionRecord;
    MINIDUMP_LOCATION_DESCRIPTOR ThreadContext;
};

struct VS_FIXEDFILEINFO
{
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

struct MINIDUMP_MODULE
{
    ULONG64 BaseOfImage;
    ULONG32 SizeOfImage;
    ULONG32 CheckSum;
    ULONG32 TimeDateStamp;
    RVA ModuleNameRva;
    VS_FIXEDFILEINFO VersionInfo;
    MINIDUMP_LOCATION_DESCRIPTOR CvRecord;
    MINIDUMP_LOCATION_DESCRIPTOR MiscRecord;
    ULONG64 Reserved0;
    ULONG64 Reserved1;
};

struct MINIDUMP_SYSTEM_INFO
{
    USHORT ProcessorArchitecture;
    USHORT ProcessorLevel;
    USHORT ProcessorRevision;
    UCHAR NumberOfProcessors;
    UCHAR ProductType;
    ULONG32 MajorVersion;
    ULONG32 MinorVersion;
    ULONG32 BuildNumber;
    ULONG32 PlatformId;
    RVA CSDVersionRva;
    USHORT SuiteMask;
    USHORT Reserved2;
    union
    {
        struct
        {
            ULONG32 VendorId[3];
            ULONG32 VersionInformation;
            ULONG32 FeatureInformation;
            ULONG32 AMDExtendedCpuFeatures;
        } X86CpuInfo;
        struct
        {
            ULONG64 ProcessorFeatures[2];
        } OtherCpuInfo;
    } Cpu;
};

constexpr ULONG32 MINIDUMP_MISC1_PROCESS_ID = 0x1;

struct MINIDUMP_MISC_INFO
{
    ULONG32 SizeOfInfo;
    ULONG32 Flags1;
    ULONG32 ProcessId;
    ULONG32 ProcessCreateTime;
    ULONG32 ProcessUserTime;
    ULONG32 ProcessKernelTime;
};

struct MINIDUMP_MEMORY_INFO_LIST
{
    ULONG SizeOfHeader;
    ULONG SizeOfEntry;
    ULONG64 NumberOfEntries;
};

struct MINIDUMP_MEMORY_INFO
{
    ULONG64 BaseAddress;
    ULONG64 AllocationBase;
    ULONG32 AllocationProtect;
    ULONG32 __alignment1;
    ULONG64 RegionSize;
    ULONG32 State;
    ULONG32 Protect;
    ULONG32 Type;
    ULONG32 __alignment2;
};

struct MINIDUMP_EXCEPTION_INFORMATION
{
    DWORD ThreadId;
    PEXCEPTION_POINTERS ExceptionPointers;
    BOOL ClientPointers;
};
typedef MINIDUMP_EXCEPTION_INFORMATION* PMINIDUMP_EXCEPTION_INFORMATION;

#pragma pack(pop)

static_assert(sizeof(MINIDUMP_HEADER) == 32 && sizeof(MINIDUMP_DIRECTORY) == 12 && sizeof(MINIDUMP_THREAD) == 48);
static_assert(sizeof(MINIDUMP_MODULE) == 108 && sizeof(MINIDUMP_SYSTEM_INFO) == 56);
static_assert(sizeof(MINIDUMP_EXCEPTION_STREAM) == 168 && sizeof(MINIDUMP_MEMORY_INFO) == 48);

enum MINIDUMP_TYPE : DWORD
{
    MiniDumpNormal = 0x0,
    MiniDumpWithDataSegs = 0x1,
    MiniDumpWithFullMemory = 0x2,
    MiniDumpWithHandleData = 0x4,
    MiniDumpWithUnloadedModules = 0x20,
    MiniDumpWithFullMemoryInfo = 0x800,
    MiniDumpWithThreadInfo = 0x1000,
};

// User streams and callbacks are not supported: pass null.
struct MINIDUMP_USER_STREAM_INFORMATION;
struct MINIDUMP_CALLBACK_INFORMATION;
typedef MINIDUMP_USER_STREAM_INFORMATION* PMINIDUMP_USER_STREAM_INFORMATION;
typedef MINIDUMP_CALLBACK_INFORMATION* PMINIDUMP_CALLBACK_INFORMATION;

// Writes a minidump of a process that this process debugs, while it stands
// still at an exception event, from the start of File (which ends where the
// dump ends). The streams: system information, the threads with their
// contexts and stacks, the modules with their build ids, the exception, the
// process's memory map, status, command line and auxiliary vector; the
// memory list holds the stacks, or with MiniDumpWithFullMemory all readable
// memory (a 64-bit memory list); MiniDumpWithFullMemoryInfo adds the memory
// information list. Handle data, unloaded modules and thread information
// have nothing to show here and are left out. Exception pointers must be
// this process's own (ClientPointers FALSE). As Linux minidumps do, the
// exception stream names the signal that stopped the thread (SIGTRAP for
// exceptions raised in software) in place of the exception code; the
// record's flags, address and parameters are kept.
BOOL MiniDumpWriteDump(HANDLE Process, DWORD ProcessId, HANDLE File, MINIDUMP_TYPE DumpType,
                       PMINIDUMP_EXCEPTION_INFORMATION ExceptionParam,
                       PMINIDUMP_USER_STREAM_INFORMATION UserStreamParam, PMINIDUMP_CALLBACK_INFORMATION CallbackParam);
