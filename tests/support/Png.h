// Writes 8-bit RGB PNG files, uncompressed (stored deflate blocks): enough to
// look at a frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Png {

inline uint32_t Crc(const uint8_t* Data, size_t Size, uint32_t Crc = 0)
{
    Crc = ~Crc;
    for (size_t Index = 0; Index < Size; ++Index)
    {
        Crc ^= Data[Index];
        for (int Bit = 0; Bit < 8; ++Bit)
            Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
    }
    return ~Crc;
}

// Pixels: Height rows of Pitch bytes, each pixel B, G, R, A.
inline bool WriteBgra(const std::string& Path, const uint8_t* Pixels, uint32_t Width, uint32_t Height, size_t Pitch)
{
    std::vector<uint8_t> Raw;
    Raw.reserve(size_t(Height) * (1 + 3 * size_t(Width)));
    for (uint32_t Row = 0; Row < Height; ++Row)
    {
        Raw.push_back(0); // filter: none
        for (uint32_t Column = 0; Column < Width; ++Column)
        {
            const uint8_t* Pixel = Pixels + Row * Pitch + Column * 4;
            Raw.insert(Raw.end(), {Pixel[2], Pixel[1], Pixel[0]});
        }
    }
    std::vector<uint8_t> Zlib = {0x78, 0x01};
    uint32_t A = 1, B = 0;
    for (uint8_t Byte : Raw)
    {
        A = (A + Byte) % 65521;
        B = (B + A) % 65521;
    }
    for (size_t Offset = 0; Offset < Raw.size() || Offset == 0;)
    {
        const size_t Length = std::min<size_t>(65535, Raw.size() - Offset);
        const bool Last = Offset + Length == Raw.size();
        Zlib.insert(Zlib.end(), {uint8_t(Last ? 1 : 0), uint8_t(Length), uint8_t(Length >> 8), uint8_t(~Length),
                                 uint8_t(~Length >> 8)});
        Zlib.insert(Zlib.end(), Raw.begin() + Offset, Raw.begin() + Offset + Length);
        Offset += Length;
        if (Last)
            break;
    }
    const uint32_t Adler = (B << 16) | A;
    Zlib.insert(Zlib.end(), {uint8_t(Adler >> 24), uint8_t(Adler >> 16), uint8_t(Adler >> 8), uint8_t(Adler)});

    FILE* File = std::fopen(Path.c_str(), "wb");
    if (!File)
        return false;
    auto Chunk = [File](const char* Type, const std::vector<uint8_t>& Data) {
        const uint8_t Length[4] = {uint8_t(Data.size() >> 24), uint8_t(Data.size() >> 16), uint8_t(Data.size() >> 8),
                                   uint8_t(Data.size())};
        std::fwrite(Length, 1, 4, File);
        std::vector<uint8_t> Body(Type, Type + 4);
        Body.insert(Body.end(), Data.begin(), Data.end());
        std::fwrite(Body.data(), 1, Body.size(), File);
        const uint32_t Sum = Crc(Body.data(), Body.size());
        const uint8_t SumBytes[4] = {uint8_t(Sum >> 24), uint8_t(Sum >> 16), uint8_t(Sum >> 8), uint8_t(Sum)};
        std::fwrite(SumBytes, 1, 4, File);
    };
    static const uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::fwrite(Signature, 1, 8, File);
    Chunk("IHDR", {uint8_t(Width >> 24), uint8_t(Width >> 16), uint8_t(Width >> 8), uint8_t(Width),
                   uint8_t(Height >> 24), uint8_t(Height >> 16), uint8_t(Height >> 8), uint8_t(Height), 8, 2, 0, 0, 0});
    Chunk("IDAT", Zlib);
    Chunk("IEND", {});
    return std::fclose(File) == 0;
}

} // namespace Png
