#include "D3DCompiler/ShaderCode.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

namespace Platform::ShaderCode {

namespace {

constexpr uint32_t Magic = 0x4348534F; // "OSHC"
constexpr uint32_t Version = 1;

// SPIR-V opcodes, decorations and storage classes used here.
constexpr uint32_t OpExtension = 10;
constexpr uint32_t OpEntryPoint = 15;
constexpr uint32_t OpTypeInt = 21;
constexpr uint32_t OpTypeFloat = 22;
constexpr uint32_t OpTypeVector = 23;
constexpr uint32_t OpTypePointer = 32;
constexpr uint32_t OpVariable = 59;
constexpr uint32_t OpDecorate = 71;
constexpr uint32_t OpDecorateId = 332;
constexpr uint32_t OpDecorateString = 5632;
constexpr uint32_t OpMemberDecorateString = 5633;
constexpr uint32_t DecorationBlock = 2;
constexpr uint32_t DecorationBufferBlock = 3;
constexpr uint32_t DecorationBuiltIn = 11;
constexpr uint32_t DecorationLocation = 30;
constexpr uint32_t DecorationBinding = 33;
constexpr uint32_t DecorationDescriptorSet = 34;
constexpr uint32_t DecorationUserSemantic = 5635;
constexpr uint32_t StorageUniformConstant = 0;
constexpr uint32_t StorageInput = 1;
constexpr uint32_t StorageUniform = 2;
constexpr uint32_t StoragePushConstant = 9;
constexpr uint32_t StorageStorageBuffer = 12;
constexpr size_t HeaderWords = 5;

// A literal string: NUL-terminated, padded to whole words.
std::string ReadString(const uint32_t* Words, size_t Count, size_t& Used)
{
    const char* Text = reinterpret_cast<const char*>(Words);
    const size_t Bytes = Count * 4;
    const size_t Length = strnlen(Text, Bytes);
    Used = Length / 4 + 1;
    return std::string(Text, Length);
}

// Calls Visit(Opcode, Operands, OperandCount, InstructionIndex) for every
// instruction after the header; false when the stream is malformed.
template <typename Visitor>
bool ForEachInstruction(const std::vector<uint32_t>& Spirv, Visitor&& Visit)
{
    if (Spirv.size() < HeaderWords || Spirv[0] != 0x07230203)
        return false;
    for (size_t Index = HeaderWords; Index < Spirv.size();)
    {
        const uint32_t WordCount = Spirv[Index] >> 16;
        if (WordCount == 0 || Index + WordCount > Spirv.size())
            return false;
        Visit(Spirv[Index] & 0xFFFF, &Spirv[Index + 1], WordCount - 1, Index);
        Index += WordCount;
    }
    return true;
}

class Writer
{
public:
    void Word(uint32_t Value) { m_Words.push_back(Value); }
    void String(const std::string& Text)
    {
        Word(static_cast<uint32_t>(Text.size()));
        const size_t Start = m_Words.size();
        m_Words.resize(Start + (Text.size() + 3) / 4, 0);
        std::memcpy(m_Words.data() + Start, Text.data(), Text.size());
    }
    std::vector<uint32_t> m_Words;
};

class Reader
{
public:
    Reader(const uint32_t* Words, size_t Count) : m_Words(Words), m_Count(Count) {}
    bool Word(uint32_t& Value)
    {
        if (m_Position >= m_Count)
            return false;
        Value = m_Words[m_Position++];
        return true;
    }
    bool String(std::string& Text)
    {
        uint32_t Length = 0;
        if (!Word(Length) || Length > 4096)
            return false;
        const size_t Words = (Length + 3) / 4;
        if (m_Count - m_Position < Words)
            return false;
        Text.assign(reinterpret_cast<const char*>(m_Words + m_Position), Length);
        m_Position += Words;
        return true;
    }
    bool Words(std::vector<uint32_t>& Values, uint32_t Count)
    {
        if (m_Count - m_Position < Count)
            return false;
        Values.assign(m_Words + m_Position, m_Words + m_Position + Count);
        m_Position += Count;
        return true;
    }
    bool AtEnd() const { return m_Position == m_Count; }

private:
    const uint32_t* m_Words;
    size_t m_Count;
    size_t m_Position = 0;
};

} // namespace

std::vector<uint8_t> Serialize(const Module& Module)
{
    Writer Out;
    Out.Word(Magic);
    Out.Word(Version);
    Out.Word(static_cast<uint32_t>(Module.m_Stage));
    Out.Word(Module.m_ShaderModel);
    Out.String(Module.m_Reflection.m_EntryPoint);
    Out.Word(Module.m_Reflection.m_ConstantBuffers);
    Out.Word((Module.m_Reflection.m_OtherResources ? 1u : 0u) | (Module.m_Reflection.m_BadRegister ? 2u : 0u));
    Out.Word(static_cast<uint32_t>(Module.m_Reflection.m_Inputs.size()));
    for (const Input& Item : Module.m_Reflection.m_Inputs)
    {
        Out.String(Item.m_Semantic);
        Out.Word(Item.m_SemanticIndex);
        Out.Word(Item.m_Location);
        Out.Word(static_cast<uint32_t>(Item.m_Type));
        Out.Word(Item.m_Components);
    }
    Out.Word(static_cast<uint32_t>(Module.m_Spirv.size()));
    Out.m_Words.insert(Out.m_Words.end(), Module.m_Spirv.begin(), Module.m_Spirv.end());
    std::vector<uint8_t> Bytes(Out.m_Words.size() * 4);
    std::memcpy(Bytes.data(), Out.m_Words.data(), Bytes.size());
    return Bytes;
}

HRESULT Parse(const void* Code, size_t Size, Module& Module)
{
    if (!Code || Size % 4 != 0 || Size < 8)
        return E_INVALIDARG;
    std::vector<uint32_t> Words(Size / 4);
    std::memcpy(Words.data(), Code, Size);
    Reader In(Words.data(), Words.size());
    uint32_t Value = 0, Flags = 0, Count = 0;
    if (!In.Word(Value) || Value != Magic || !In.Word(Value) || Value != Version)
        return E_INVALIDARG;
    if (!In.Word(Value) || Value > static_cast<uint32_t>(Stage::Pixel))
        return E_INVALIDARG;
    Module.m_Stage = static_cast<Stage>(Value);
    if (!In.Word(Module.m_ShaderModel) || !In.String(Module.m_Reflection.m_EntryPoint) ||
        !In.Word(Module.m_Reflection.m_ConstantBuffers) || !In.Word(Flags) || !In.Word(Count) || Count > 64)
        return E_INVALIDARG;
    Module.m_Reflection.m_OtherResources = (Flags & 1) != 0;
    Module.m_Reflection.m_BadRegister = (Flags & 2) != 0;
    Module.m_Reflection.m_Inputs.resize(Count);
    for (Input& Item : Module.m_Reflection.m_Inputs)
    {
        uint32_t Type = 0;
        if (!In.String(Item.m_Semantic) || !In.Word(Item.m_SemanticIndex) || !In.Word(Item.m_Location) ||
            !In.Word(Type) || Type > static_cast<uint32_t>(ComponentType::UnsignedInt) ||
            !In.Word(Item.m_Components))
            return E_INVALIDARG;
        Item.m_Type = static_cast<ComponentType>(Type);
    }
    if (!In.Word(Count) || !In.Words(Module.m_Spirv, Count) || !In.AtEnd())
        return E_INVALIDARG;
    return Module.m_Spirv.size() >= HeaderWords && Module.m_Spirv[0] == 0x07230203 ? S_OK : E_INVALIDARG;
}

HRESULT Reflect(const std::vector<uint32_t>& Spirv, Reflection& Result)
{
    struct Decorations
    {
        bool m_BuiltIn = false;
        bool m_Block = false;
        bool m_BufferBlock = false;
        uint32_t m_Location = 0;
        uint32_t m_Binding = 0;
        uint32_t m_Set = 0;
        std::string m_Semantic;
    };
    struct Type
    {
        uint32_t m_Opcode = 0;
        uint32_t m_Component = 0; // vector: component type; pointer: pointee
        uint32_t m_Count = 1;     // vector: components; int: signedness
        uint32_t m_Storage = 0;
    };
    struct Variable
    {
        uint32_t m_Type;
        uint32_t m_Storage;
    };
    std::unordered_map<uint32_t, Decorations> Decorated;
    std::unordered_map<uint32_t, Type> Types;
    std::unordered_map<uint32_t, Variable> Variables;
    std::vector<uint32_t> Interface;
    bool HaveEntryPoint = false;

    const bool WellFormed = ForEachInstruction(Spirv, [&](uint32_t Opcode, const uint32_t* Operands, size_t Count,
                                                          size_t) {
        switch (Opcode)
        {
        case OpEntryPoint:
            if (!HaveEntryPoint && Count >= 3)
            {
                size_t Used = 0;
                Result.m_EntryPoint = ReadString(Operands + 2, Count - 2, Used);
                Interface.assign(Operands + 2 + Used, Operands + Count);
                HaveEntryPoint = true;
            }
            break;
        case OpDecorate:
            if (Count >= 2)
            {
                Decorations& Target = Decorated[Operands[0]];
                switch (Operands[1])
                {
                case DecorationBuiltIn: Target.m_BuiltIn = true; break;
                case DecorationBlock: Target.m_Block = true; break;
                case DecorationBufferBlock: Target.m_BufferBlock = true; break;
                case DecorationLocation: Target.m_Location = Count >= 3 ? Operands[2] : 0; break;
                case DecorationBinding: Target.m_Binding = Count >= 3 ? Operands[2] : 0; break;
                case DecorationDescriptorSet: Target.m_Set = Count >= 3 ? Operands[2] : 0; break;
                default: break;
                }
            }
            break;
        case OpDecorateString:
            if (Count >= 3 && Operands[1] == DecorationUserSemantic)
            {
                size_t Used = 0;
                Decorated[Operands[0]].m_Semantic = ReadString(Operands + 2, Count - 2, Used);
            }
            break;
        case OpTypeInt:
            if (Count >= 3)
                Types[Operands[0]] = {Opcode, 0, Operands[2], 0};
            break;
        case OpTypeFloat:
            if (Count >= 2)
                Types[Operands[0]] = {Opcode, 0, 1, 0};
            break;
        case OpTypeVector:
            if (Count >= 3)
                Types[Operands[0]] = {Opcode, Operands[1], Operands[2], 0};
            break;
        case OpTypePointer:
            if (Count >= 3)
                Types[Operands[0]] = {Opcode, Operands[2], 1, Operands[1]};
            break;
        case OpVariable:
            if (Count >= 3)
                Variables[Operands[1]] = {Operands[0], Operands[2]};
            break;
        default:
            break;
        }
    });
    if (!WellFormed)
        return E_INVALIDARG;

    for (uint32_t Id : Interface)
    {
        const auto Found = Variables.find(Id);
        if (Found == Variables.end() || Found->second.m_Storage != StorageInput)
            continue;
        const Decorations& Item = Decorated[Id];
        if (Item.m_BuiltIn)
            continue;
        Input Value;
        // "TEXCOORD1": the name, then the index in its trailing digits.
        std::string Semantic = Item.m_Semantic;
        for (char& Character : Semantic)
            Character = static_cast<char>(std::toupper(static_cast<unsigned char>(Character)));
        size_t Digits = Semantic.size();
        while (Digits > 0 && std::isdigit(static_cast<unsigned char>(Semantic[Digits - 1])))
            --Digits;
        Value.m_SemanticIndex = Digits < Semantic.size() ? static_cast<uint32_t>(std::stoul(Semantic.substr(Digits))) : 0;
        Value.m_Semantic = Semantic.substr(0, Digits);
        Value.m_Location = Item.m_Location;
        const Type& Pointer = Types[Found->second.m_Type];
        Type Pointee = Types[Pointer.m_Component];
        Value.m_Components = 1;
        if (Pointee.m_Opcode == OpTypeVector)
        {
            Value.m_Components = Pointee.m_Count;
            Pointee = Types[Pointee.m_Component];
        }
        Value.m_Type = Pointee.m_Opcode == OpTypeFloat ? ComponentType::Float
                       : Pointee.m_Count             ? ComponentType::SignedInt
                                                     : ComponentType::UnsignedInt;
        Result.m_Inputs.push_back(std::move(Value));
    }

    for (const auto& [Id, Item] : Variables)
    {
        if (Item.m_Storage == StorageUniform)
        {
            const Type& Pointer = Types[Item.m_Type];
            const Decorations& Block = Decorated[Pointer.m_Component];
            const Decorations& Binding = Decorated[Id];
            if (!Block.m_Block || Binding.m_Set != 0)
                Result.m_OtherResources = true;
            else if (Binding.m_Binding >= 14)
                Result.m_BadRegister = true;
            else
                Result.m_ConstantBuffers |= 1u << Binding.m_Binding;
        }
        else if (Item.m_Storage == StorageUniformConstant || Item.m_Storage == StorageStorageBuffer ||
                 Item.m_Storage == StoragePushConstant)
            Result.m_OtherResources = true;
    }
    return S_OK;
}

void StripHlslDecorations(std::vector<uint32_t>& Spirv)
{
    std::vector<uint32_t> Kept(Spirv.begin(), Spirv.begin() + std::min(Spirv.size(), HeaderWords));
    Kept.reserve(Spirv.size());
    const bool WellFormed = ForEachInstruction(Spirv, [&](uint32_t Opcode, const uint32_t* Operands, size_t Count,
                                                          size_t Index) {
        bool Drop = Opcode == OpDecorateString || Opcode == OpMemberDecorateString ||
                    (Opcode == OpDecorateId && Count >= 2 && Operands[1] == 5634 /* HlslCounterBufferGOOGLE */);
        if (Opcode == OpExtension)
        {
            size_t Used = 0;
            const std::string Name = ReadString(Operands, Count, Used);
            Drop = Name == "SPV_GOOGLE_hlsl_functionality1" || Name == "SPV_GOOGLE_decorate_string" ||
                   Name == "SPV_GOOGLE_user_type";
        }
        if (!Drop)
            Kept.insert(Kept.end(), Spirv.begin() + Index, Spirv.begin() + Index + Count + 1);
    });
    if (WellFormed)
        Spirv = std::move(Kept);
}

void MoveConstantBuffers(std::vector<uint32_t>& Spirv, uint32_t BindingBase)
{
    std::vector<size_t> Sets, Bindings;
    ForEachInstruction(Spirv, [&](uint32_t Opcode, const uint32_t* Operands, size_t Count, size_t Index) {
        if (Opcode != OpDecorate || Count < 3)
            return;
        if (Operands[1] == DecorationDescriptorSet)
            Sets.push_back(Index + 3);
        else if (Operands[1] == DecorationBinding)
            Bindings.push_back(Index + 3);
    });
    for (size_t Position : Sets)
        Spirv[Position] = 0;
    for (size_t Position : Bindings)
        Spirv[Position] += BindingBase;
}

} // namespace Platform::ShaderCode
