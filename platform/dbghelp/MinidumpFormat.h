// Building a minidump file: appending records, strings and streams, and the
// stream types of the Linux extension of the format.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <minidumpapiset.h>

namespace Platform {

// Streams that Linux minidumps carry beside the standard ones.
constexpr ULONG32 LinuxProcStatusStream = 0x47670004;
constexpr ULONG32 LinuxCmdLineStream = 0x47670006;
constexpr ULONG32 LinuxAuxvStream = 0x47670008;
constexpr ULONG32 LinuxMapsStream = 0x47670009;

constexpr USHORT ProcessorArchitectureAmd64 = 9;
constexpr ULONG32 PlatformIdLinux = 0x8201;
// The CodeView record of an ELF image: this signature, then its build id.
constexpr ULONG32 CodeViewElfBuildIdSignature = 0x4270454C; // "LEpB"

// A minidump under construction in a file descriptor. Writes go at the
// file's end, 8-byte aligned; a write failure is remembered and reported by
// Failed (with its errno) so that callers check once at the end.
class MinidumpFile
{
public:
    explicit MinidumpFile(int Fd) : m_Fd(Fd) {}

    uint64_t End() const { return m_End; }
    bool Failed() const { return m_Error != 0; }
    int Error() const { return m_Error; }

    // Appends bytes and returns where they went.
    MINIDUMP_LOCATION_DESCRIPTOR Append(const void* Data, size_t Size);
    template <typename Record>
    MINIDUMP_LOCATION_DESCRIPTOR Append(const Record& Value)
    {
        return Append(&Value, sizeof Value);
    }
    // A list stream's body: the count of the entries, then the entries (the
    // thread, module and memory lists).
    template <typename Entry>
    MINIDUMP_LOCATION_DESCRIPTOR AppendList(const std::vector<Entry>& Entries)
    {
        std::vector<char> List(sizeof(ULONG32) + Entries.size() * sizeof(Entry));
        const auto Count = static_cast<ULONG32>(Entries.size());
        std::memcpy(List.data(), &Count, sizeof Count);
        if (!Entries.empty())
            std::memcpy(List.data() + sizeof Count, Entries.data(), Entries.size() * sizeof(Entry));
        return Append(List.data(), List.size());
    }
    // A MINIDUMP_STRING: its length in bytes, then UTF-16 text and a NUL.
    RVA AppendString(const std::wstring& Text);
    // Room to be written later with WriteAt.
    uint64_t Reserve(size_t Size);
    void WriteAt(uint64_t Offset, const void* Data, size_t Size);

    // Registers a stream for the directory.
    void AddStream(ULONG32 Type, MINIDUMP_LOCATION_DESCRIPTOR Location);
    std::vector<MINIDUMP_DIRECTORY>& Streams() { return m_Streams; }

    // Places the directory here, for the streams registered so far, so that
    // it stays within the first 4 GiB when a full memory list follows.
    void ReserveDirectory();
    // Writes the directory and the header, and cuts the file at its end.
    bool Finish(ULONG32 Flags);

private:
    int m_Fd;
    uint64_t m_End = sizeof(MINIDUMP_HEADER);
    int m_Error = 0;
    std::vector<MINIDUMP_DIRECTORY> m_Streams;
    uint64_t m_Directory = 0;
};

// UTF-16 from wide text, with surrogate pairs where needed.
std::u16string Utf16FromWide(const std::wstring& Text);

} // namespace Platform
