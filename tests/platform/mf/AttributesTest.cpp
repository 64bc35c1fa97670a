// The media type helpers: packed sizes and ratios, exact arithmetic.

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

TEST(MediaTypeHelpers, SizeAndRatioPackTwoHalvesAndMulDivIsExact)
{
    ComPtr<IMFMediaType> Type;
    ASSERT_EQ(MFCreateMediaType(Type.GetAddressOf()), S_OK);
    MFSetAttributeSize(Type.Get(), MF_MT_FRAME_SIZE, 1920, 1080);
    UINT64 Packed = 0;
    Type->GetUINT64(MF_MT_FRAME_SIZE, &Packed);
    EXPECT_EQ(Packed, (1920ull << 32) | 1080u);
    UINT32 Width = 0, Height = 0;
    EXPECT_EQ(MFGetAttributeSize(Type.Get(), MF_MT_FRAME_SIZE, &Width, &Height), S_OK);
    EXPECT_EQ(Width, 1920u);
    EXPECT_EQ(Height, 1080u);
    EXPECT_EQ(MFGetAttributeSize(Type.Get(), MF_MT_FRAME_RATE, &Width, &Height), MF_E_ATTRIBUTENOTFOUND);

    EXPECT_EQ(MFllMulDiv(1, 10000000ll * 1001, 30000, 0), 333666);
    EXPECT_EQ(MFllMulDiv(INT64_MAX / 2, 4, 4, 0), INT64_MAX / 2); // no intermediate overflow
    EXPECT_EQ(MFllMulDiv(7, 3, 2, 1), 11);
}
