#include "TraceLoggingDecoder.h"

#include <cstring>

namespace Platform::Etw {
namespace {
// Flags in a field's type byte.
constexpr uint8_t InTypeChainFlag = 0x80; // an out-type byte follows
constexpr uint8_t InTypeArrayMask = 0x60; // constant, variable or custom count
constexpr uint8_t InTypeValueMask = 0x1F;
// Flag in the out-type byte: field tags follow.
constexpr uint8_t OutTypeChainFlag = 0x80;
// Tags take at most four bytes, each but the last with the high bit set.
constexpr uint8_t TagChainFlag = 0x80;
constexpr size_t MaxTagBytes = 4;

// Source file and function names converted from wide text get this much
// room each; the line's text gets what is left.
constexpr size_t NameTextCapacity = 1024;

// Bounds-checked forward reading of a metadata blob.
class BlobReader
{
public:
    BlobReader(const uint8_t* Data, size_t Size) : m_Data(Data), m_Size(Size) {}

    bool AtEnd() const { return m_Offset == m_Size; }
    size_t Remaining() const { return m_Size - m_Offset; }

    bool ReadByte(uint8_t& Value)
    {
        if (m_Offset >= m_Size)
            return false;
        Value = m_Data[m_Offset++];
        return true;
    }

    bool ReadUInt16(uint16_t& Value)
    {
        if (Remaining() < sizeof(Value))
            return false;
        std::memcpy(&Value, m_Data + m_Offset, sizeof(Value));
        m_Offset += sizeof(Value);
        return true;
    }

    // A NUL-terminated string; the view excludes the NUL.
    bool ReadString(std::string_view& Value)
    {
        const void* End = std::memchr(m_Data + m_Offset, 0, Remaining());
        if (End == nullptr)
            return false;
        const size_t Length = static_cast<const uint8_t*>(End) - (m_Data + m_Offset);
        Value = std::string_view(reinterpret_cast<const char*>(m_Data + m_Offset), Length);
        m_Offset += Length + 1;
        return true;
    }

    bool Skip(size_t Count)
    {
        if (Remaining() < Count)
            return false;
        m_Offset += Count;
        return true;
    }

    // Tag bytes: each with the chain bit set announces one more.
    bool SkipTags()
    {
        for (size_t Count = 1;; ++Count)
        {
            uint8_t Byte = 0;
            if (!ReadByte(Byte))
                return false;
            if ((Byte & TagChainFlag) == 0)
                return true;
            if (Count == MaxTagBytes)
                return false;
        }
    }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_Offset = 0;
};

// Reads the 16-bit size that opens a blob; it must cover the blob exactly.
bool OpenBlob(const void* Data, size_t Size, size_t MinimumSize, BlobReader& Reader)
{
    if (Data == nullptr || Size < MinimumSize || Size > UINT16_MAX)
        return false;
    Reader = BlobReader(static_cast<const uint8_t*>(Data), Size);
    uint16_t DeclaredSize = 0;
    return Reader.ReadUInt16(DeclaredSize) && DeclaredSize == Size;
}

// The size a fixed-size value must have, 0 for types without one.
size_t FixedValueSize(uint8_t InType)
{
    switch (InType)
    {
    case InTypeInt8:
    case InTypeUInt8: return 1;
    case InTypeInt16:
    case InTypeUInt16: return 2;
    case InTypeInt32:
    case InTypeUInt32:
    case InTypeFloat:
    case InTypeBool32:
    case InTypeHexInt32: return 4;
    case InTypeInt64:
    case InTypeUInt64:
    case InTypeDouble:
    case InTypeFileTime:
    case InTypeHexInt64: return 8;
    case InTypeGuid:
    case InTypeSystemTime: return 16;
    default: return 0;
    }
}

bool IsString(uint8_t InType) { return InType == InTypeUnicodeString || InType == InTypeAnsiString; }

const uint8_t* DescriptorData(const EVENT_DATA_DESCRIPTOR& Descriptor)
{
    return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(Descriptor.Ptr));
}

// Whether Descriptor holds NUL-terminated text of the given type within its
// size.
bool HasTerminator(const EVENT_DATA_DESCRIPTOR& Descriptor, uint8_t InType)
{
    const uint8_t* Data = DescriptorData(Descriptor);
    if (InType == InTypeAnsiString)
        return std::memchr(Data, 0, Descriptor.Size) != nullptr;
    if (Descriptor.Size % sizeof(wchar_t) != 0)
        return false;
    for (size_t Offset = 0; Offset < Descriptor.Size; Offset += sizeof(wchar_t))
    {
        wchar_t Character = 0;
        std::memcpy(&Character, Data + Offset, sizeof(Character));
        if (Character == 0)
            return true;
    }
    return false;
}

bool IsValidValue(const EVENT_DATA_DESCRIPTOR& Descriptor, uint8_t InType)
{
    if (Descriptor.Ptr == 0)
        return false;
    if (IsString(InType))
        return HasTerminator(Descriptor, InType);
    return Descriptor.Size == FixedValueSize(InType);
}

size_t AppendUtf8(char32_t CodePoint, char* Out)
{
    if (CodePoint < 0x80)
    {
        Out[0] = static_cast<char>(CodePoint);
        return 1;
    }
    if (CodePoint < 0x800)
    {
        Out[0] = static_cast<char>(0xC0 | (CodePoint >> 6));
        Out[1] = static_cast<char>(0x80 | (CodePoint & 0x3F));
        return 2;
    }
    if (CodePoint < 0x10000)
    {
        Out[0] = static_cast<char>(0xE0 | (CodePoint >> 12));
        Out[1] = static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out[2] = static_cast<char>(0x80 | (CodePoint & 0x3F));
        return 3;
    }
    Out[0] = static_cast<char>(0xF0 | (CodePoint >> 18));
    Out[1] = static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out[2] = static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out[3] = static_cast<char>(0x80 | (CodePoint & 0x3F));
    return 4;
}

// Text of a string field as UTF-8: 8-bit text where it lies, wide text
// converted into Room (advanced past what was used).
const char* FieldText(const EVENT_DATA_DESCRIPTOR& Descriptor, uint8_t InType, char*& Room, size_t Capacity)
{
    if (InType == InTypeAnsiString)
        return reinterpret_cast<const char*>(DescriptorData(Descriptor));
    char* Text = Room;
    Room += WideToUtf8(DescriptorData(Descriptor), Descriptor.Size, Text, Capacity) + 1;
    return Text;
}
} // namespace

DWORD DecodeProviderTraits(const void* Data, size_t Size, std::string_view& ProviderName)
{
    BlobReader Reader(nullptr, 0);
    if (!OpenBlob(Data, Size, sizeof(uint16_t) + 1, Reader) || !Reader.ReadString(ProviderName))
        return ERROR_INVALID_PARAMETER;
    while (!Reader.AtEnd())
    {
        uint16_t ChunkSize = 0;
        uint8_t ChunkType = 0;
        if (!Reader.ReadUInt16(ChunkSize) || ChunkSize < sizeof(ChunkSize) + sizeof(ChunkType) ||
            !Reader.ReadByte(ChunkType) || !Reader.Skip(ChunkSize - sizeof(ChunkSize) - sizeof(ChunkType)))
            return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

DWORD DecodeEventMetadata(const void* Data, size_t Size, TraceLoggingEventMetadata& Metadata)
{
    Metadata.Name = {};
    Metadata.FieldCount = 0;
    BlobReader Reader(nullptr, 0);
    if (!OpenBlob(Data, Size, sizeof(uint16_t) + 2, Reader) || !Reader.SkipTags() || !Reader.ReadString(Metadata.Name))
        return ERROR_INVALID_PARAMETER;
    while (!Reader.AtEnd())
    {
        TraceLoggingField Field;
        uint8_t InType = 0;
        if (!Reader.ReadString(Field.Name) || !Reader.ReadByte(InType))
            return ERROR_INVALID_PARAMETER;
        if (InType & InTypeChainFlag)
        {
            uint8_t OutType = 0;
            if (!Reader.ReadByte(OutType) || ((OutType & OutTypeChainFlag) && !Reader.SkipTags()))
                return ERROR_INVALID_PARAMETER;
        }
        Field.InType = InType & InTypeValueMask;
        if ((InType & InTypeArrayMask) != 0 || (!IsString(Field.InType) && FixedValueSize(Field.InType) == 0))
            return ERROR_NOT_SUPPORTED;
        if (Metadata.FieldCount == MaxTraceLoggingFields)
            return ERROR_INVALID_PARAMETER;
        Metadata.Fields[Metadata.FieldCount++] = Field;
    }
    return ERROR_SUCCESS;
}

size_t WideToUtf8(const void* Wide, size_t Size, char* Buffer, size_t Capacity)
{
    const auto* Bytes = static_cast<const uint8_t*>(Wide);
    size_t Written = 0;
    for (size_t Offset = 0; Offset + sizeof(wchar_t) <= Size; Offset += sizeof(wchar_t))
    {
        wchar_t Character = 0;
        std::memcpy(&Character, Bytes + Offset, sizeof(Character));
        if (Character == 0)
            break;
        auto CodePoint = static_cast<char32_t>(Character);
        if (CodePoint > 0x10FFFF || (CodePoint >= 0xD800 && CodePoint <= 0xDFFF))
            CodePoint = 0xFFFD;
        char Encoded[4];
        const size_t Length = AppendUtf8(CodePoint, Encoded);
        if (Written + Length >= Capacity)
            break;
        std::memcpy(Buffer + Written, Encoded, Length);
        Written += Length;
    }
    Buffer[Written] = '\0';
    return Written;
}

DWORD DecodeTraceMessage(ULONG UserDataCount, const EVENT_DATA_DESCRIPTOR* UserData, TraceMessageBuffer& Buffer,
                         TraceMessage& Message)
{
    if (UserData == nullptr || UserDataCount < 2)
        return ERROR_INVALID_PARAMETER;
    const EVENT_DATA_DESCRIPTOR& Traits = UserData[0];
    const EVENT_DATA_DESCRIPTOR& EventMetadata = UserData[1];
    if (Traits.Type != EVENT_DATA_DESCRIPTOR_TYPE_PROVIDER_METADATA ||
        EventMetadata.Type != EVENT_DATA_DESCRIPTOR_TYPE_EVENT_METADATA)
        return ERROR_INVALID_PARAMETER;

    std::string_view ProviderName;
    if (DWORD Error = DecodeProviderTraits(DescriptorData(Traits), Traits.Size, ProviderName))
        return Error;
    TraceLoggingEventMetadata Metadata;
    if (DWORD Error = DecodeEventMetadata(DescriptorData(EventMetadata), EventMetadata.Size, Metadata))
        return Error;
    if (UserDataCount - 2 != Metadata.FieldCount)
        return ERROR_INVALID_PARAMETER;

    // Indices of the Message fields, the first field of each name.
    constexpr size_t Missing = SIZE_MAX;
    size_t SourceFile = Missing, SourceLine = Missing, SourceFunction = Missing, Text = Missing;
    for (size_t Index = 0; Index < Metadata.FieldCount; ++Index)
    {
        const TraceLoggingField& Field = Metadata.Fields[Index];
        if (!IsValidValue(UserData[Index + 2], Field.InType))
            return ERROR_INVALID_PARAMETER;
        size_t* Slot = Field.Name == "SourceFile"       ? &SourceFile
                       : Field.Name == "SourceLine"     ? &SourceLine
                       : Field.Name == "SourceFunction" ? &SourceFunction
                       : Field.Name == "TextA"          ? &Text
                                                        : nullptr;
        if (Slot != nullptr && *Slot == Missing)
            *Slot = Index;
    }
    if (Metadata.Name != "Message" || SourceFile == Missing || SourceLine == Missing || SourceFunction == Missing ||
        Text == Missing)
        return ERROR_NOT_SUPPORTED;
    const uint8_t SourceFileType = Metadata.Fields[SourceFile].InType;
    const uint8_t SourceFunctionType = Metadata.Fields[SourceFunction].InType;
    const uint8_t TextType = Metadata.Fields[Text].InType;
    if (!IsString(SourceFileType) || !IsString(SourceFunctionType) || !IsString(TextType) ||
        Metadata.Fields[SourceLine].InType != InTypeUInt32)
        return ERROR_NOT_SUPPORTED;

    char* Room = Buffer.Bytes;
    Message.SourceFile = FieldText(UserData[SourceFile + 2], SourceFileType, Room, NameTextCapacity);
    Message.SourceFunction = FieldText(UserData[SourceFunction + 2], SourceFunctionType, Room, NameTextCapacity);
    Message.Text = FieldText(UserData[Text + 2], TextType, Room, Buffer.Bytes + sizeof(Buffer.Bytes) - Room);
    std::memcpy(&Message.SourceLine, DescriptorData(UserData[SourceLine + 2]), sizeof(Message.SourceLine));
    return ERROR_SUCCESS;
}
} // namespace Platform::Etw
