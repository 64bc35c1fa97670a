// The minidump writer: the streams of one dump of a debugged process.
#pragma once

#include <sys/types.h>
#include <vector>

#include "MinidumpFormat.h"
#include "ProcessModules.h"

namespace Platform {

class MinidumpWriter
{
public:
    MinidumpWriter(int Fd, pid_t ProcessId, MINIDUMP_TYPE Type) : m_File(Fd), m_ProcessId(ProcessId), m_Type(Type) {}

    // Writes the whole dump; false with errno's Win32 error as last error.
    bool Write(const MINIDUMP_EXCEPTION_INFORMATION* Exception);

private:
    void WriteSystemInfo();
    void WriteMiscInfo();
    void WriteThreads(const MINIDUMP_EXCEPTION_INFORMATION* Exception);
    void WriteModules();
    void WriteException(const MINIDUMP_EXCEPTION_INFORMATION& Exception);
    void WriteProcFile(const char* Name, ULONG32 Type);
    void WriteMemoryInfo();
    void WriteFullMemory();
    MINIDUMP_MEMORY_DESCRIPTOR WriteStack(uint64_t StackPointer);
    // Copies memory of the process to the file's end through one buffer,
    // up to the first unreadable byte; the bytes copied.
    uint64_t AppendMemory(uint64_t Address, uint64_t Size);

    MinidumpFile m_File;
    pid_t m_ProcessId;
    MINIDUMP_TYPE m_Type;
    std::string m_MapsText;
    std::vector<MemoryRegion> m_Regions;
    std::vector<ModuleImage> m_Modules;
    std::vector<MINIDUMP_MEMORY_DESCRIPTOR> m_Stacks;
    std::vector<char> m_Buffer = std::vector<char>(1u << 20);
};

} // namespace Platform
