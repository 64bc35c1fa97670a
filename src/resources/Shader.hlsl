// The picture: a field of lit cells that breathe, drift and morph between
// round and diamond shapes under a light that circles the centre.

cbuffer ConstantBuffer : register(b0)
{
    matrix World;
    matrix View;
    matrix Projection;
    float Time;
}

struct VS_Input
{
    float4 Position : POSITION;
    float4 Color : COLOR;
    float2 TexturePosition : TEXCOORD;
};

struct VS_Output
{
    float4 InputPosition : POSITION;
    float2 TexturePosition : TEXCOORD;
    float4 Position : SV_Position;
    float4 Color : COLOR;
};

VS_Output VS(VS_Input Input)
{
    VS_Output Output;
    Output.InputPosition = Input.Position;
    Output.TexturePosition = Input.TexturePosition;
    Output.Position = mul(Input.Position, World);
    Output.Position = mul(Output.Position, View);
    Output.Position = mul(Output.Position, Projection);
    Output.Color = Input.Color;
    return Output;
}

// An integer hash of a cell: cheap, and without the banding of sine hashes.
uint Hash(int2 Cell)
{
    uint Value = asuint(Cell.x) * 0x8da6b343u ^ asuint(Cell.y) * 0xd8163841u;
    Value ^= Value >> 16;
    Value *= 0x7feb352du;
    Value ^= Value >> 15;
    return Value;
}

float Unit(uint Value)
{
    return (float)(Value & 0xffffu) * (1.0 / 65535.0);
}

// Cosine and sine of an angle in turns, as a smooth parabolic wave of the
// full unit amplitude: close enough to circles for everything that moves
// here, and far cheaper than sincos on a software rasterizer.
float2 Circle(float Turns)
{
    const float2 Phase = frac(float2(Turns + 0.25, Turns)) - 0.5;
    return Phase * (16.0 * abs(Phase) - 8.0);
}

// The cells' centres form a triangular lattice (rows shifted by half a cell),
// which gives six neighbours of equal weight. How far a cell's point may
// drift from its centre: at most 0.12, the nearest point always lies among
// the four cells of the lattice rhombus around the pixel, and the second
// nearest does too wherever it is within 0.2 of the nearest. The search of
// those four cells is therefore exact for every term, as long as the terms
// that use the border distance stop changing below 0.2: cells meet without
// seams.
static const float Drift = 0.12;
static const float RowHeight = 0.8660254; // sqrt(3) / 2

float4 PS(VS_Output Input) : SV_Target
{
    const float t = Time * 2.5;

    // Picture coordinates: x to the right, y up, [-1, 1] across; x widened
    // by the picture's aspect ratio so that cells stay round.
    float2 Uv = Input.Color.rg * 2.0 - 1.0;
    const float Aspect = clamp(abs(ddy(Input.Color.g)) / max(abs(ddx(Input.Color.r)), 1e-6), 0.1, 10.0);
    Uv.x *= Aspect;

    // Slow waves: the grid breathes, the cells morph between round (0) and
    // diamond (1), the light circles.
    const float2 Breath = Circle(t * 0.033);
    const float2 Shape = Circle(t * 0.027);
    const float2 Light = Circle(t * 0.05);
    const float Scale = 5.0 + 1.25 * Breath.y;
    const float Morph = smoothstep(-0.6, 0.6, Shape.y);

    // The rhombus of four lattice cells around the pixel, and where the pixel
    // lies in it.
    const float2 Q = Uv * Scale + float2(0.13 * t, 0.07 * t);
    const float2 P = float2(Q.x - Q.y * (0.5 / RowHeight), Q.y / RowHeight);
    const int2 Base = (int2)floor(P);
    const float2 Fraction = P - (float2)Base;
    const float2 Here = float2(Fraction.x + 0.5 * Fraction.y, Fraction.y * RowHeight);

    // Nearest and second nearest points by squared distance, the metric
    // blended between Euclidean and Manhattan.
    float Nearest = 64.0, Second = 64.0;
    float2 Offset = float2(0.0, 0.0);
    uint Id = 0u;
    [unroll] for (int y = 0; y <= 1; ++y)
    {
        [unroll] for (int x = 0; x <= 1; ++x)
        {
            const int2 Cell = int2(x, y);
            const uint H = Hash(Base + Cell);
            const float Turns = t * (0.05 + 0.06 * Unit(H >> 16)) + Unit(H);
            const float Radius = Drift * (0.35 + 0.65 * Unit(H >> 8));
            const float2 V = float2(x + 0.5 * y, y * RowHeight) + Radius * Circle(Turns) - Here;
            const float Manhattan = abs(V.x) + abs(V.y);
            const float D = lerp(dot(V, V), Manhattan * Manhattan * 0.5, Morph);
            const bool Closer = D < Nearest;
            Second = Closer ? Nearest : min(Second, D);
            Offset = Closer ? V : Offset;
            Id = Closer ? H : Id;
            Nearest = min(Nearest, D);
        }
    }
    Nearest = sqrt(Nearest);
    Second = sqrt(Second);
    const float Border = Second - Nearest; // exact below 0.2 (see Drift)

    // A bump over each cell, lit by a warm light circling above the centre.
    const float2 Round = Offset * rsqrt(max(dot(Offset, Offset), 1e-8));
    // A diamond's facets meet in creases: soft ones, so that they do not alias.
    const float2 Diamond = clamp(Offset * 24.0, -1.0, 1.0) * 0.7071;
    const float2 Slope = lerp(Round, Diamond, Morph) * (3.0 * Nearest) * smoothstep(0.0, 0.12, Border);
    const float3 Normal = float3(Slope, 1.0) * rsqrt(dot(Slope, Slope) + 1.0);
    const float3 ToLight = float3(Light * float2(0.75 * Aspect, 0.6) - Uv, 0.55);
    const float LightDistance2 = dot(ToLight, ToLight);
    const float InverseDistance = rsqrt(LightDistance2);
    const float3 L = ToLight * InverseDistance;
    const float3 HalfVector = L + float3(0.0, 0.0, 1.0);
    float Specular = saturate(dot(Normal, HalfVector) * rsqrt(dot(HalfVector, HalfVector)));
    Specular *= Specular;
    Specular *= Specular;
    Specular *= Specular;
    Specular *= Specular;
    Specular *= Specular;
    const float Diffuse = saturate(dot(Normal, L));
    const float Falloff = 1.0 / (1.0 + 0.45 * LightDistance2);

    // Each cell has a tint of its own.
    const float3 Tint = 0.15 + 0.85 * float3(Unit(Id >> 3), Unit(Id >> 9), Unit(Id >> 14));
    float3 Color = Tint * (0.2 + 0.95 * Diffuse * float3(1.0, 0.82, 0.6)) * Falloff;
    Color += Specular * Falloff * float3(1.0, 0.95, 0.85);
    // The borders glow cyan-blue, more so far from the light.
    const float Edge = 1.0 - smoothstep(0.0, 0.09, Border);
    Color += Edge * float3(0.1, 0.55, 1.0) * (0.25 + 0.6 * saturate(LightDistance2 * InverseDistance - 0.4));
    Color *= 0.75 + 0.35 * saturate(1.0 - 1.6 * Nearest * Nearest);
    return float4(saturate(Color), 1.0);
}
