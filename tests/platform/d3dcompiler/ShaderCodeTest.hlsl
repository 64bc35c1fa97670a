// A vertex shader with every kind of input the device reads, and a constant
// buffer in a register of its own.
cbuffer Constants : register(b3)
{
    float4 Tint;
};

struct VertexIn
{
    float3 Position : POSITION;
    float2 Uv : TEXCOORD1;
    uint Index : BLENDINDICES;
    int2 Offset : offset;
};

float4 VS(VertexIn In, uint Vertex : SV_VertexID) : SV_Position
{
    return float4(In.Position + float3(In.Uv, float(In.Index + Vertex) + float(In.Offset.x)), 1) * Tint;
}
