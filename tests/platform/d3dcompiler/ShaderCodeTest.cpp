// The compiled code's container and the SPIR-V edits: on SPIR-V written by
// hand, and on SPIR-V that glslang made of ShaderCodeTest.hlsl at build time
// (with the options that D3DCompile gives it).

#include <algorithm>
#include <string>
#include <vector>

#include <glslang/SPIRV/spirv.hpp>

#include <gtest/gtest.h>

#include "D3DCompiler/ShaderCode.h"
#include "ShaderCodeTestVertex.h"

using namespace Platform::ShaderCode;

namespace {

// SPIR-V written one instruction at a time.
class Assembler
{
public:
    Assembler() { m_Words = {spv::MagicNumber, 0x00010300, 0, 100, 0}; }

    Assembler& Op(spv::Op Opcode, std::vector<uint32_t> Operands, const std::string& Text = {},
                  std::vector<uint32_t> After = {})
    {
        std::vector<uint32_t> Words = std::move(Operands);
        if (!Text.empty() || Opcode == spv::OpEntryPoint)
        {
            std::vector<uint32_t> Packed((Text.size() + 4) / 4, 0);
            // Byte by byte, first byte lowest, as SPIR-V packs strings; a
            // memcpy here trips GCC 12's false -Wstringop-overflow at -O3.
            for (size_t Index = 0; Index < Text.size(); ++Index)
                Packed[Index / 4] |= static_cast<uint32_t>(static_cast<unsigned char>(Text[Index])) << (Index % 4 * 8);
            Words.insert(Words.end(), Packed.begin(), Packed.end());
        }
        Words.insert(Words.end(), After.begin(), After.end());
        m_Words.push_back(static_cast<uint32_t>(Words.size() + 1) << 16 | Opcode);
        m_Words.insert(m_Words.end(), Words.begin(), Words.end());
        return *this;
    }
    std::vector<uint32_t> m_Words;
};

// Ids of the hand-made module.
enum : uint32_t
{
    Main = 1,
    Float,
    Int,
    Uint,
    Float4,
    Int2,
    Float4In,
    Int2In,
    UintIn,
    Position,
    Texcoord,
    Index,
    VertexId,
    Block,
    BlockPointer,
    Constants,
    Far,
    OtherSet,
    TexturePointer,
    Texture,
    Private,
    PrivatePointer
};

std::vector<uint32_t> HandMade()
{
    Assembler Code;
    Code.Op(spv::OpExtension, {}, "SPV_GOOGLE_hlsl_functionality1")
        .Op(spv::OpExtension, {}, "SPV_KHR_storage_buffer_storage_class")
        .Op(spv::OpEntryPoint, {spv::ExecutionModelVertex, Main}, "VSMain",
            {Position, Texcoord, Index, VertexId, Private})
        .Op(spv::OpDecorate, {Position, spv::DecorationLocation, 2})
        .Op(spv::OpDecorateString, {Position, spv::DecorationUserSemantic}, "position")
        .Op(spv::OpDecorate, {Texcoord, spv::DecorationLocation, 5})
        .Op(spv::OpDecorateString, {Texcoord, spv::DecorationUserSemantic}, "TEXCOORD12")
        .Op(spv::OpDecorate, {Index, spv::DecorationLocation, 1})
        .Op(spv::OpDecorate, {VertexId, spv::DecorationBuiltIn, spv::BuiltInVertexIndex})
        .Op(spv::OpDecorateId, {Constants, spv::DecorationHlslCounterBufferGOOGLE, Far})
        .Op(spv::OpMemberDecorateString, {Block, 0, spv::DecorationUserTypeGOOGLE}, "cbuffer")
        .Op(spv::OpDecorate, {Block, spv::DecorationBlock})
        .Op(spv::OpDecorate, {Constants, spv::DecorationDescriptorSet, 0})
        .Op(spv::OpDecorate, {Constants, spv::DecorationBinding, 4})
        .Op(spv::OpDecorate, {Far, spv::DecorationBinding, 14})
        .Op(spv::OpDecorate, {OtherSet, spv::DecorationDescriptorSet, 1})
        .Op(spv::OpTypeFloat, {Float, 32})
        .Op(spv::OpTypeInt, {Int, 32, 1})
        .Op(spv::OpTypeInt, {Uint, 32, 0})
        .Op(spv::OpTypeVector, {Float4, Float, 4})
        .Op(spv::OpTypeVector, {Int2, Int, 2})
        .Op(spv::OpTypePointer, {Float4In, spv::StorageClassInput, Float4})
        .Op(spv::OpTypePointer, {Int2In, spv::StorageClassInput, Int2})
        .Op(spv::OpTypePointer, {UintIn, spv::StorageClassInput, Uint})
        .Op(spv::OpTypeStruct, {Block, Float4})
        .Op(spv::OpTypePointer, {BlockPointer, spv::StorageClassUniform, Block})
        .Op(spv::OpTypePointer, {TexturePointer, spv::StorageClassUniformConstant, Float})
        .Op(spv::OpTypePointer, {PrivatePointer, spv::StorageClassPrivate, Float4})
        .Op(spv::OpVariable, {Float4In, Position, spv::StorageClassInput})
        .Op(spv::OpVariable, {Int2In, Texcoord, spv::StorageClassInput})
        .Op(spv::OpVariable, {UintIn, Index, spv::StorageClassInput})
        .Op(spv::OpVariable, {UintIn, VertexId, spv::StorageClassInput})
        .Op(spv::OpVariable, {PrivatePointer, Private, spv::StorageClassPrivate})
        .Op(spv::OpVariable, {BlockPointer, Constants, spv::StorageClassUniform});
    return Code.m_Words;
}

// The instructions of a module with Opcode.
size_t Count(const std::vector<uint32_t>& Spirv, spv::Op Opcode)
{
    size_t Found = 0;
    for (size_t Index = 5; Index < Spirv.size(); Index += Spirv[Index] >> 16)
        Found += (Spirv[Index] & 0xFFFF) == Opcode;
    return Found;
}

// The operand Position words into the decoration of Id with Decoration.
uint32_t Decoration(const std::vector<uint32_t>& Spirv, uint32_t Id, spv::Decoration Decoration)
{
    for (size_t Index = 5; Index < Spirv.size(); Index += Spirv[Index] >> 16)
        if ((Spirv[Index] & 0xFFFF) == spv::OpDecorate && Spirv[Index + 1] == Id && Spirv[Index + 2] == Decoration)
            return Spirv[Index + 3];
    return ~0u;
}

std::vector<uint32_t> GlslangMade()
{
    return std::vector<uint32_t>(std::begin(ShaderCodeTestVertex), std::end(ShaderCodeTestVertex));
}

} // namespace

TEST(ShaderCode, ModulesRoundTripAndBrokenOnesAreRefused)
{
    Module Original;
    Original.m_Stage = Stage::Pixel;
    Original.m_ShaderModel = 50;
    Original.m_Reflection.m_EntryPoint = "PSMain";
    Original.m_Reflection.m_Inputs = {{"TEXCOORD", 3, 1, ComponentType::SignedInt, 2}};
    Original.m_Reflection.m_ConstantBuffers = 0b101;
    Original.m_Reflection.m_BadRegister = true;
    Original.m_Spirv = HandMade();
    const std::vector<uint8_t> Bytes = Serialize(Original);

    Module Read;
    ASSERT_EQ(Parse(Bytes.data(), Bytes.size(), Read), S_OK);
    EXPECT_EQ(Read.m_Stage, Stage::Pixel);
    EXPECT_EQ(Read.m_ShaderModel, 50u);
    EXPECT_EQ(Read.m_Reflection.m_EntryPoint, "PSMain");
    ASSERT_EQ(Read.m_Reflection.m_Inputs.size(), 1u);
    EXPECT_EQ(Read.m_Reflection.m_Inputs[0].m_Semantic, "TEXCOORD");
    EXPECT_EQ(Read.m_Reflection.m_Inputs[0].m_SemanticIndex, 3u);
    EXPECT_EQ(Read.m_Reflection.m_Inputs[0].m_Location, 1u);
    EXPECT_EQ(Read.m_Reflection.m_Inputs[0].m_Type, ComponentType::SignedInt);
    EXPECT_EQ(Read.m_Reflection.m_Inputs[0].m_Components, 2u);
    EXPECT_EQ(Read.m_Reflection.m_ConstantBuffers, 0b101u);
    EXPECT_FALSE(Read.m_Reflection.m_OtherResources);
    EXPECT_TRUE(Read.m_Reflection.m_BadRegister);
    EXPECT_EQ(Read.m_Spirv, Original.m_Spirv);

    // Cut anywhere, lengthened, bent or of an unknown stage: refused.
    for (size_t Size = 0; Size < Bytes.size(); Size += 4)
        EXPECT_EQ(Parse(Bytes.data(), Size, Read), E_INVALIDARG) << Size;
    std::vector<uint8_t> Changed = Bytes;
    Changed.insert(Changed.end(), 4, 0);
    EXPECT_EQ(Parse(Changed.data(), Changed.size(), Read), E_INVALIDARG);
    EXPECT_EQ(Parse(Bytes.data(), Bytes.size() - 1, Read), E_INVALIDARG);
    Changed = Bytes;
    Changed[0] ^= 1; // the container's mark
    EXPECT_EQ(Parse(Changed.data(), Changed.size(), Read), E_INVALIDARG);
    Changed = Bytes;
    Changed[8] = 2; // the stage
    EXPECT_EQ(Parse(Changed.data(), Changed.size(), Read), E_INVALIDARG);
    Original.m_Spirv[0] = 0; // SPIR-V's own mark
    const std::vector<uint8_t> NotSpirv = Serialize(Original);
    EXPECT_EQ(Parse(NotSpirv.data(), NotSpirv.size(), Read), E_INVALIDARG);
    EXPECT_EQ(Parse(nullptr, 64, Read), E_INVALIDARG);
}

TEST(ShaderCode, ReflectReadsTheEntryPointItsInputsAndResources)
{
    Reflection Found;
    ASSERT_EQ(Reflect(HandMade(), Found), S_OK);
    EXPECT_EQ(Found.m_EntryPoint, "VSMain");
    // Inputs in the entry point's order; the built-in one and the private
    // variable are none.
    ASSERT_EQ(Found.m_Inputs.size(), 3u);
    EXPECT_EQ(Found.m_Inputs[0].m_Semantic, "POSITION");
    EXPECT_EQ(Found.m_Inputs[0].m_SemanticIndex, 0u);
    EXPECT_EQ(Found.m_Inputs[0].m_Location, 2u);
    EXPECT_EQ(Found.m_Inputs[0].m_Type, ComponentType::Float);
    EXPECT_EQ(Found.m_Inputs[0].m_Components, 4u);
    EXPECT_EQ(Found.m_Inputs[1].m_Semantic, "TEXCOORD");
    EXPECT_EQ(Found.m_Inputs[1].m_SemanticIndex, 12u);
    EXPECT_EQ(Found.m_Inputs[1].m_Location, 5u);
    EXPECT_EQ(Found.m_Inputs[1].m_Type, ComponentType::SignedInt);
    EXPECT_EQ(Found.m_Inputs[1].m_Components, 2u);
    EXPECT_EQ(Found.m_Inputs[2].m_Semantic, "");
    EXPECT_EQ(Found.m_Inputs[2].m_Location, 1u);
    EXPECT_EQ(Found.m_Inputs[2].m_Type, ComponentType::UnsignedInt);
    EXPECT_EQ(Found.m_Inputs[2].m_Components, 1u);
    EXPECT_EQ(Found.m_ConstantBuffers, 1u << 4);
    EXPECT_FALSE(Found.m_OtherResources);
    EXPECT_FALSE(Found.m_BadRegister);

    // A constant buffer past b13, one in another register space, a texture.
    Assembler More;
    More.m_Words = HandMade();
    More.Op(spv::OpVariable, {BlockPointer, Far, spv::StorageClassUniform});
    Reflection Beyond;
    ASSERT_EQ(Reflect(More.m_Words, Beyond), S_OK);
    EXPECT_TRUE(Beyond.m_BadRegister);
    More.Op(spv::OpVariable, {BlockPointer, OtherSet, spv::StorageClassUniform});
    Reflection Space;
    ASSERT_EQ(Reflect(More.m_Words, Space), S_OK);
    EXPECT_TRUE(Space.m_OtherResources);
    Assembler Textured;
    Textured.m_Words = HandMade();
    Textured.Op(spv::OpVariable, {TexturePointer, Texture, spv::StorageClassUniformConstant});
    Reflection WithTexture;
    ASSERT_EQ(Reflect(Textured.m_Words, WithTexture), S_OK);
    EXPECT_TRUE(WithTexture.m_OtherResources);

    // Broken streams: no mark, an instruction of no words, one past the end.
    std::vector<uint32_t> Broken = HandMade();
    Broken[0] = 0;
    EXPECT_EQ(Reflect(Broken, Found), E_INVALIDARG);
    Broken = HandMade();
    Broken[5] &= 0xFFFF;
    EXPECT_EQ(Reflect(Broken, Found), E_INVALIDARG);
    Broken = HandMade();
    Broken.pop_back();
    EXPECT_EQ(Reflect(Broken, Found), E_INVALIDARG);
}

TEST(ShaderCode, StripRemovesTheHlslDecorationsAndTheirExtensionsOnly)
{
    std::vector<uint32_t> Spirv = HandMade();
    const size_t Decorations = Count(Spirv, spv::OpDecorate);
    StripHlslDecorations(Spirv);
    EXPECT_EQ(Count(Spirv, spv::OpDecorateString), 0u);
    EXPECT_EQ(Count(Spirv, spv::OpMemberDecorateString), 0u);
    EXPECT_EQ(Count(Spirv, spv::OpDecorateId), 0u);
    EXPECT_EQ(Count(Spirv, spv::OpExtension), 1u); // the storage class's stays
    EXPECT_EQ(Count(Spirv, spv::OpDecorate), Decorations);
    EXPECT_EQ(Count(Spirv, spv::OpVariable), 6u);
    EXPECT_TRUE(std::equal(Spirv.begin(), Spirv.begin() + 5, HandMade().begin()));
    // What was read before stays readable, but for the semantics.
    Reflection Found;
    ASSERT_EQ(Reflect(Spirv, Found), S_OK);
    EXPECT_EQ(Found.m_EntryPoint, "VSMain");
    ASSERT_EQ(Found.m_Inputs.size(), 3u);
    EXPECT_EQ(Found.m_Inputs[0].m_Semantic, "");
    EXPECT_EQ(Found.m_Inputs[1].m_Location, 5u);

    // A broken stream is left as it was.
    std::vector<uint32_t> Broken = HandMade();
    Broken.pop_back();
    const std::vector<uint32_t> Before = Broken;
    StripHlslDecorations(Broken);
    EXPECT_EQ(Broken, Before);
}

TEST(ShaderCode, ConstantBuffersMoveToSetZeroFromTheBindingBase)
{
    std::vector<uint32_t> Spirv = HandMade();
    MoveConstantBuffers(Spirv, 14);
    EXPECT_EQ(Decoration(Spirv, Constants, spv::DecorationBinding), 18u);
    EXPECT_EQ(Decoration(Spirv, Far, spv::DecorationBinding), 28u);
    EXPECT_EQ(Decoration(Spirv, OtherSet, spv::DecorationDescriptorSet), 0u);
    EXPECT_EQ(Decoration(Spirv, Position, spv::DecorationLocation), 2u); // no binding: untouched
}

TEST(ShaderCode, GlslangsCodeIsReadAndStrippedAsD3DCompileDoes)
{
    std::vector<uint32_t> Spirv = GlslangMade();
    Reflection Found;
    ASSERT_EQ(Reflect(Spirv, Found), S_OK);
    EXPECT_EQ(Found.m_EntryPoint, "VS");
    ASSERT_EQ(Found.m_Inputs.size(), 4u); // SV_VertexID is built in
    const struct
    {
        const char* m_Semantic;
        uint32_t m_Index;
        ComponentType m_Type;
        uint32_t m_Components;
    } Expected[] = {{"POSITION", 0, ComponentType::Float, 3},
                    {"TEXCOORD", 1, ComponentType::Float, 2},
                    {"BLENDINDICES", 0, ComponentType::UnsignedInt, 1},
                    {"OFFSET", 0, ComponentType::SignedInt, 2}};
    for (size_t Index = 0; Index < 4; ++Index)
    {
        EXPECT_EQ(Found.m_Inputs[Index].m_Semantic, Expected[Index].m_Semantic) << Index;
        EXPECT_EQ(Found.m_Inputs[Index].m_SemanticIndex, Expected[Index].m_Index) << Index;
        EXPECT_EQ(Found.m_Inputs[Index].m_Type, Expected[Index].m_Type) << Index;
        EXPECT_EQ(Found.m_Inputs[Index].m_Components, Expected[Index].m_Components) << Index;
    }
    EXPECT_EQ(Found.m_ConstantBuffers, 1u << 3);
    EXPECT_FALSE(Found.m_OtherResources || Found.m_BadRegister);

    ASSERT_GT(Count(Spirv, spv::OpDecorateString), 0u);
    StripHlslDecorations(Spirv);
    EXPECT_EQ(Count(Spirv, spv::OpDecorateString), 0u);
    EXPECT_EQ(Count(Spirv, spv::OpExtension), 0u);
    Reflection Stripped;
    ASSERT_EQ(Reflect(Spirv, Stripped), S_OK);
    EXPECT_EQ(Stripped.m_EntryPoint, "VS");
    EXPECT_EQ(Stripped.m_Inputs.size(), 4u);
    EXPECT_EQ(Stripped.m_ConstantBuffers, 1u << 3);
}
