#include "D3DCompiler/ShaderCode.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

#include <glslang/SPIRV/spirv.hpp>

namespace Platform::ShaderCode {

namespace {

constexpr uint32_t Magic = 0x4348534F; // "OSHC"
constexpr uint32_t Version = 1;
// The container's flag bits.
constexpr uint32_t FlagOtherResources = 1;
constexpr uint32_t FlagBadRegister = 2;
// Bounds on what a container may hold.
constexpr uint32_t MaximumInputs = 64;
constexpr uint32_t MaximumStringLength = 4096;
// Constant buffers b0 to b13, as Direct3D's shader stages have them.
constexpr uint32_t ConstantBufferRegisters = 14;

// SPIR-V's header: magic, version, generator, bound, schema.
constexpr size_t HeaderWords = 5;
constexpr uint32_t WordCountShift = 16;
constexpr uint32_t OpcodeMask = spv::OpCodeMask;

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
    if (Spirv.size() < HeaderWords || Spirv[0] != spv::MagicNumber)
        return false;
    for (size_t Index = HeaderWords; Index < Spirv.size();)
    {
        const uint32_t WordCount = Spirv[Index] >> WordCountShift;
        if (WordCount == 0 || Index + WordCount > Spirv.size())
            return false;
        Visit(Spirv[Index] & OpcodeMask, &Spirv[Index + 1], WordCount - 1, Index);
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
        if (!Word(Length) || Length > MaximumStringLength)
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
    Out.Word((Module.m_Reflection.m_OtherResources ? FlagOtherResources : 0u) |
             (Module.m_Reflection.m_BadRegister ? FlagBadRegister : 0u));
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
        !In.Word(Module.m_Reflection.m_ConstantBuffers) || !In.Word(Flags) || !In.Word(Count) || Count > MaximumInputs)
        return E_INVALIDARG;
    Module.m_Reflection.m_OtherResources = (Flags & FlagOtherResources) != 0;
    Module.m_Reflection.m_BadRegister = (Flags & FlagBadRegister) != 0;
    Module.m_Reflection.m_Inputs.resize(Count);
    for (Input& Item : Module.m_Reflection.m_Inputs)
    {
        uint32_t Type = 0;
        if (!In.String(Item.m_Semantic) || !In.Word(Item.m_SemanticIndex) || !In.Word(Item.m_Location) ||
            !In.Word(Type) || Type > static_cast<uint32_t>(ComponentType::UnsignedInt) || !In.Word(Item.m_Components))
            return E_INVALIDARG;
        Item.m_Type = static_cast<ComponentType>(Type);
    }
    if (!In.Word(Count) || !In.Words(Module.m_Spirv, Count) || !In.AtEnd())
        return E_INVALIDARG;
    return Module.m_Spirv.size() >= HeaderWords && Module.m_Spirv[0] == spv::MagicNumber ? S_OK : E_INVALIDARG;
}

namespace {

// What Reflect gathers in one pass over the instructions.
struct Inventory
{
    struct Decorations
    {
        bool m_BuiltIn = false;
        bool m_Block = false;
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

    void Take(uint32_t Opcode, const uint32_t* Operands, size_t Count, Reflection& Result);
    void Decorate(const uint32_t* Operands, size_t Count);

    std::unordered_map<uint32_t, Decorations> m_Decorated;
    std::unordered_map<uint32_t, Type> m_Types;
    std::unordered_map<uint32_t, Variable> m_Variables;
    std::vector<uint32_t> m_Interface; // the entry point's
    bool m_HaveEntryPoint = false;
};

void Inventory::Decorate(const uint32_t* Operands, size_t Count)
{
    Decorations& Target = m_Decorated[Operands[0]];
    const uint32_t Value = Count >= 3 ? Operands[2] : 0;
    switch (Operands[1])
    {
    case spv::DecorationBuiltIn: Target.m_BuiltIn = true; break;
    case spv::DecorationBlock: Target.m_Block = true; break;
    case spv::DecorationLocation: Target.m_Location = Value; break;
    case spv::DecorationBinding: Target.m_Binding = Value; break;
    case spv::DecorationDescriptorSet: Target.m_Set = Value; break;
    default: break;
    }
}

void Inventory::Take(uint32_t Opcode, const uint32_t* Operands, size_t Count, Reflection& Result)
{
    size_t Used = 0;
    switch (Opcode)
    {
    case spv::OpEntryPoint:
        if (!m_HaveEntryPoint && Count >= 3)
        {
            Result.m_EntryPoint = ReadString(Operands + 2, Count - 2, Used);
            m_Interface.assign(Operands + 2 + Used, Operands + Count);
            m_HaveEntryPoint = true;
        }
        break;
    case spv::OpDecorate:
        if (Count >= 2)
            Decorate(Operands, Count);
        break;
    case spv::OpDecorateString:
        if (Count >= 3 && Operands[1] == spv::DecorationUserSemantic)
            m_Decorated[Operands[0]].m_Semantic = ReadString(Operands + 2, Count - 2, Used);
        break;
    case spv::OpTypeInt:
        if (Count >= 3)
            m_Types[Operands[0]] = {Opcode, 0, Operands[2], 0};
        break;
    case spv::OpTypeFloat:
        if (Count >= 2)
            m_Types[Operands[0]] = {Opcode, 0, 1, 0};
        break;
    case spv::OpTypeVector:
        if (Count >= 3)
            m_Types[Operands[0]] = {Opcode, Operands[1], Operands[2], 0};
        break;
    case spv::OpTypePointer:
        if (Count >= 3)
            m_Types[Operands[0]] = {Opcode, Operands[2], 1, Operands[1]};
        break;
    case spv::OpVariable:
        if (Count >= 3)
            m_Variables[Operands[1]] = {Operands[0], Operands[2]};
        break;
    default: break;
    }
}

// "TEXCOORD1": the name upper-cased, then the index in its trailing digits.
void SplitSemantic(const std::string& Text, Input& Value)
{
    std::string Semantic = Text;
    for (char& Character : Semantic)
        Character = static_cast<char>(std::toupper(static_cast<unsigned char>(Character)));
    size_t Digits = Semantic.size();
    while (Digits > 0 && std::isdigit(static_cast<unsigned char>(Semantic[Digits - 1])))
        --Digits;
    Value.m_SemanticIndex = Digits < Semantic.size() ? static_cast<uint32_t>(std::stoul(Semantic.substr(Digits))) : 0;
    Value.m_Semantic = Semantic.substr(0, Digits);
}

// The entry point's inputs that are not built in, in its order.
void ReadInputs(Inventory& Found, Reflection& Result)
{
    for (uint32_t Id : Found.m_Interface)
    {
        const auto Variable = Found.m_Variables.find(Id);
        if (Variable == Found.m_Variables.end() || Variable->second.m_Storage != spv::StorageClassInput)
            continue;
        const Inventory::Decorations& Item = Found.m_Decorated[Id];
        if (Item.m_BuiltIn)
            continue;
        Input Value;
        SplitSemantic(Item.m_Semantic, Value);
        Value.m_Location = Item.m_Location;
        const Inventory::Type& Pointer = Found.m_Types[Variable->second.m_Type];
        Inventory::Type Pointee = Found.m_Types[Pointer.m_Component];
        Value.m_Components = 1;
        if (Pointee.m_Opcode == spv::OpTypeVector)
        {
            Value.m_Components = Pointee.m_Count;
            Pointee = Found.m_Types[Pointee.m_Component];
        }
        Value.m_Type = Pointee.m_Opcode == spv::OpTypeFloat ? ComponentType::Float
                       : Pointee.m_Count                    ? ComponentType::SignedInt
                                                            : ComponentType::UnsignedInt;
        Result.m_Inputs.push_back(std::move(Value));
    }
}

// Constant buffers by register; anything else that a shader could bind
// counts as another resource.
void ReadResources(Inventory& Found, Reflection& Result)
{
    for (const auto& [Id, Item] : Found.m_Variables)
    {
        if (Item.m_Storage == spv::StorageClassUniform)
        {
            const Inventory::Type& Pointer = Found.m_Types[Item.m_Type];
            const Inventory::Decorations& Block = Found.m_Decorated[Pointer.m_Component];
            const Inventory::Decorations& Binding = Found.m_Decorated[Id];
            if (!Block.m_Block || Binding.m_Set != 0)
                Result.m_OtherResources = true;
            else if (Binding.m_Binding >= ConstantBufferRegisters)
                Result.m_BadRegister = true;
            else
                Result.m_ConstantBuffers |= 1u << Binding.m_Binding;
        }
        else if (Item.m_Storage == spv::StorageClassUniformConstant ||
                 Item.m_Storage == spv::StorageClassStorageBuffer || Item.m_Storage == spv::StorageClassPushConstant)
            Result.m_OtherResources = true;
    }
}

} // namespace

HRESULT Reflect(const std::vector<uint32_t>& Spirv, Reflection& Result)
{
    Inventory Found;
    const bool WellFormed = ForEachInstruction(Spirv, [&](uint32_t Opcode, const uint32_t* Operands, size_t Count,
                                                          size_t) { Found.Take(Opcode, Operands, Count, Result); });
    if (!WellFormed)
        return E_INVALIDARG;
    ReadInputs(Found, Result);
    ReadResources(Found, Result);
    return S_OK;
}

void StripHlslDecorations(std::vector<uint32_t>& Spirv)
{
    std::vector<uint32_t> Kept(Spirv.begin(), Spirv.begin() + std::min(Spirv.size(), HeaderWords));
    Kept.reserve(Spirv.size());
    const bool WellFormed =
        ForEachInstruction(Spirv, [&](uint32_t Opcode, const uint32_t* Operands, size_t Count, size_t Index) {
            bool Drop =
                Opcode == spv::OpDecorateString || Opcode == spv::OpMemberDecorateString ||
                (Opcode == spv::OpDecorateId && Count >= 2 && Operands[1] == spv::DecorationHlslCounterBufferGOOGLE);
            if (Opcode == spv::OpExtension)
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
        if (Opcode != spv::OpDecorate || Count < 3)
            return;
        // The decoration's value: the third word after the instruction's.
        if (Operands[1] == spv::DecorationDescriptorSet)
            Sets.push_back(Index + 3);
        else if (Operands[1] == spv::DecorationBinding)
            Bindings.push_back(Index + 3);
    });
    for (size_t Position : Sets)
        Spirv[Position] = 0;
    for (size_t Position : Bindings)
        Spirv[Position] += BindingBase;
}

} // namespace Platform::ShaderCode
