#version 450
// One picture from 8-bit RGB to NV12: BT.709, limited range. Luma from each
// pixel; chroma from each pair of columns, averaged, and four rows around
// the pair of rows it covers, weighted 1, 3, 3, 1 (centred between the
// rows), the picture's edge rows repeated. That is what the host's
// converter does, so that both give the same planes.
//
// Each invocation makes four columns of four rows: four words of luma (one a
// row) and two words of chroma (U, V, U, V), one for each pair of rows; the
// six rows it reads overlap its neighbours' less than two-row blocks would.
// Words past the picture's width land in the rows' padding; a last block of
// a picture whose height is no multiple of four makes two rows only.

layout(local_size_x = 8, local_size_y = 8) in;

layout(set = 0, binding = 0) uniform sampler2D Source;
layout(set = 0, binding = 1, std430) writeonly buffer Planes { uint Words[]; };

layout(push_constant) uniform Layout
{
    uvec2 Size;        // the picture, in pixels
    uint LumaOffset;   // where the planes start and how far their rows lie apart, in words
    uint LumaPitch;
    uint ChromaOffset;
    uint ChromaPitch;
} Target;

const vec3 LumaWeights = vec3(0.2126, 0.7152, 0.0722);

vec3 Pixel(int X, int Y)
{
    const ivec2 Last = ivec2(Target.Size) - 1;
    return texelFetch(Source, clamp(ivec2(X, Y), ivec2(0), Last), 0).rgb;
}

uint Byte(float Value)
{
    return uint(clamp(floor(Value + 0.5), 0.0, 255.0));
}

// Limited-range chroma of an RGB colour: U and V.
vec2 Chroma(vec3 Rgb)
{
    const float Luma = dot(Rgb, LumaWeights);
    return vec2(128.0 + 224.0 * (Rgb.b - Luma) / 1.8556, 128.0 + 224.0 * (Rgb.r - Luma) / 1.5748);
}

void main()
{
    const uvec2 Block = gl_GlobalInvocationID.xy; // x: four columns, y: four rows
    if (Block.x * 4u >= Target.Size.x || Block.y * 4u >= Target.Size.y)
        return;
    const int X = int(Block.x * 4u), Y = int(Block.y * 4u);
    const bool Second = uint(Y) + 2u < Target.Size.y; // the block's second pair of rows
    // Rows Y - 1 to Y + 4: the first pair of chroma rows weighs rows 0 to 3,
    // the second rows 2 to 5.
    const float FirstWeights[6] = float[6](0.125, 0.375, 0.375, 0.125, 0.0, 0.0);
    const float SecondWeights[6] = float[6](0.0, 0.0, 0.125, 0.375, 0.375, 0.125);
    vec3 Pairs[4] = vec3[4](vec3(0.0), vec3(0.0), vec3(0.0), vec3(0.0)); // first U V pair, first, second, second
    // Constant bounds throughout: the loops unroll and the arrays stay in registers.
    for (int Row = 0; Row < 6; ++Row)
    {
        uint Luma = 0u;
        for (int Column = 0; Column < 4; ++Column)
        {
            const vec3 Rgb = Pixel(X + Column, Y - 1 + Row);
            Pairs[Column / 2] += FirstWeights[Row] * 0.5 * Rgb;
            Pairs[2 + Column / 2] += SecondWeights[Row] * 0.5 * Rgb;
            Luma |= Byte(16.0 + 219.0 * dot(Rgb, LumaWeights)) << (8u * uint(Column));
        }
        if (Row >= 1 && Row <= 4 && (Row <= 2 || Second))
            Words[Target.LumaOffset + uint(Y + Row - 1) * Target.LumaPitch + Block.x] = Luma;
    }
    for (uint Pair = 0u; Pair < 2u; ++Pair)
    {
        const vec2 Left = Chroma(Pairs[2u * Pair]), Right = Chroma(Pairs[2u * Pair + 1u]);
        if (Pair == 0u || Second)
            Words[Target.ChromaOffset + (Block.y * 2u + Pair) * Target.ChromaPitch + Block.x] =
                Byte(Left.x) | (Byte(Left.y) << 8u) | (Byte(Right.x) << 16u) | (Byte(Right.y) << 24u);
    }
}
