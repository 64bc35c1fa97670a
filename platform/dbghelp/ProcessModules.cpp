#include "ProcessModules.h"

#include <cstddef>
#include <cstring>
#include <elf.h>

namespace Platform {

namespace {

// The GNU build id from the image's notes, read from its mapped headers.
std::vector<uint8_t> ReadBuildId(pid_t ProcessId, uint64_t Base)
{
    Elf64_Ehdr Header;
    if (ReadProcessBytes(ProcessId, Base, &Header, sizeof Header) != sizeof Header ||
        Header.e_ident[EI_CLASS] != ELFCLASS64 || Header.e_phentsize != sizeof(Elf64_Phdr) || Header.e_phnum > 256)
        return {};
    std::vector<Elf64_Phdr> Segments(Header.e_phnum);
    const size_t Bytes = Segments.size() * sizeof(Elf64_Phdr);
    if (ReadProcessBytes(ProcessId, Base + Header.e_phoff, Segments.data(), Bytes) != Bytes)
        return {};
    uint64_t FirstLoad = UINT64_MAX;
    for (const Elf64_Phdr& Segment : Segments)
        if (Segment.p_type == PT_LOAD && Segment.p_vaddr < FirstLoad)
            FirstLoad = Segment.p_vaddr;
    if (FirstLoad == UINT64_MAX)
        return {};
    const uint64_t Bias = Base - (FirstLoad & ~static_cast<uint64_t>(0xFFF));
    for (const Elf64_Phdr& Segment : Segments)
    {
        if (Segment.p_type != PT_NOTE || Segment.p_filesz > 65536)
            continue;
        std::vector<uint8_t> Notes(Segment.p_filesz);
        if (ReadProcessBytes(ProcessId, Bias + Segment.p_vaddr, Notes.data(), Notes.size()) != Notes.size())
            continue;
        for (size_t Position = 0; Position + sizeof(Elf64_Nhdr) <= Notes.size();)
        {
            Elf64_Nhdr Note;
            std::memcpy(&Note, Notes.data() + Position, sizeof Note);
            const size_t Name = Position + sizeof Note;
            const size_t Description = Name + ((Note.n_namesz + 3u) & ~3u);
            const size_t Next = Description + ((Note.n_descsz + 3u) & ~3u);
            if (Next > Notes.size() || Description + Note.n_descsz > Notes.size())
                break;
            if (Note.n_type == NT_GNU_BUILD_ID && Note.n_namesz == 4 && std::memcmp(&Notes[Name], "GNU", 4) == 0)
                return std::vector<uint8_t>(Notes.begin() + static_cast<ptrdiff_t>(Description),
                                            Notes.begin() + static_cast<ptrdiff_t>(Description + Note.n_descsz));
            Position = Next;
        }
    }
    return {};
}

} // namespace

std::vector<ModuleImage> FindModules(pid_t ProcessId, const std::vector<MemoryRegion>& Regions)
{
    std::vector<ModuleImage> Modules;
    for (const MemoryRegion& Region : Regions)
    {
        if (Region.Name.empty() || Region.Name[0] != '/')
            continue;
        // Later mappings of the same file extend the image.
        if (!Modules.empty() && Modules.back().Path == Region.Name && Region.Offset != 0)
        {
            Modules.back().Size = Region.End - Modules.back().Base;
            continue;
        }
        unsigned char Magic[SELFMAG];
        if (Region.Offset != 0 || !Region.Read ||
            ReadProcessBytes(ProcessId, Region.Start, Magic, sizeof Magic) != sizeof Magic ||
            std::memcmp(Magic, ELFMAG, SELFMAG) != 0)
            continue;
        ModuleImage Module;
        Module.Base = Region.Start;
        Module.Size = Region.End - Region.Start;
        Module.Path = Region.Name;
        Module.BuildId = ReadBuildId(ProcessId, Region.Start);
        Modules.push_back(std::move(Module));
    }
    return Modules;
}

} // namespace Platform
