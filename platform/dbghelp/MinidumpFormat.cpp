#include "MinidumpFormat.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace Platform {

std::u16string Utf16FromWide(const std::wstring& Text)
{
    std::u16string Result;
    Result.reserve(Text.size());
    for (wchar_t Character : Text)
    {
        const auto Code = static_cast<uint32_t>(Character);
        if (Code >= 0x10000 && Code <= 0x10FFFF)
        {
            Result.push_back(static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10)));
            Result.push_back(static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF)));
        }
        else
            Result.push_back(static_cast<char16_t>(Code <= 0xFFFF ? Code : 0xFFFD));
    }
    return Result;
}

void MinidumpFile::WriteAt(uint64_t Offset, const void* Data, size_t Size)
{
    const char* Bytes = static_cast<const char*>(Data);
    while (Size > 0 && !m_Error)
    {
        const ssize_t Written = pwrite(m_Fd, Bytes, Size, static_cast<off_t>(Offset));
        if (Written < 0)
        {
            if (errno != EINTR)
                m_Error = errno;
            continue;
        }
        Bytes += Written;
        Offset += static_cast<uint64_t>(Written);
        Size -= static_cast<size_t>(Written);
    }
}

uint64_t MinidumpFile::Reserve(size_t Size)
{
    const uint64_t Offset = m_End;
    m_End = (m_End + Size + 7) & ~static_cast<uint64_t>(7);
    return Offset;
}

MINIDUMP_LOCATION_DESCRIPTOR MinidumpFile::Append(const void* Data, size_t Size)
{
    const uint64_t Offset = Reserve(Size);
    WriteAt(Offset, Data, Size);
    // Everything but the memory of a full dump lies within the first 4 GiB.
    return {static_cast<ULONG32>(Size), static_cast<RVA>(Offset)};
}

RVA MinidumpFile::AppendString(const std::wstring& Text)
{
    const std::u16string Utf16 = Utf16FromWide(Text);
    std::vector<char> Record(sizeof(ULONG32) + (Utf16.size() + 1) * sizeof(char16_t), 0);
    const ULONG32 Length = static_cast<ULONG32>(Utf16.size() * sizeof(char16_t));
    std::memcpy(Record.data(), &Length, sizeof Length);
    std::memcpy(Record.data() + sizeof Length, Utf16.data(), Length);
    return Append(Record.data(), Record.size()).Rva;
}

void MinidumpFile::AddStream(ULONG32 Type, MINIDUMP_LOCATION_DESCRIPTOR Location)
{
    m_Streams.push_back({Type, Location});
}

void MinidumpFile::ReserveDirectory() { m_Directory = Reserve(m_Streams.size() * sizeof(MINIDUMP_DIRECTORY)); }

bool MinidumpFile::Finish(ULONG32 Flags)
{
    const size_t DirectorySize = m_Streams.size() * sizeof(MINIDUMP_DIRECTORY);
    if (!m_Directory)
        m_Directory = Reserve(DirectorySize);
    WriteAt(m_Directory, m_Streams.data(), DirectorySize);
    MINIDUMP_HEADER Header = {};
    Header.Signature = MINIDUMP_SIGNATURE;
    Header.Version = MINIDUMP_VERSION;
    Header.NumberOfStreams = static_cast<ULONG32>(m_Streams.size());
    Header.StreamDirectoryRva = static_cast<RVA>(m_Directory);
    Header.TimeDateStamp = static_cast<ULONG32>(std::time(nullptr));
    Header.Flags = Flags;
    WriteAt(0, &Header, sizeof Header);
    if (!m_Error && ftruncate(m_Fd, static_cast<off_t>(m_End)) == -1)
        m_Error = errno;
    return !m_Error;
}

} // namespace Platform
