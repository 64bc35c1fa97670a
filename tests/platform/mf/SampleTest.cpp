#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

using Microsoft::WRL::ComPtr;

namespace {

ComPtr<IMFMediaBuffer> BufferWith(const char* Text)
{
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(MFCreateMemoryBuffer(static_cast<DWORD>(strlen(Text)), Buffer.GetAddressOf()), S_OK);
    BYTE* Data = nullptr;
    Buffer->Lock(&Data, nullptr, nullptr);
    std::memcpy(Data, Text, strlen(Text));
    Buffer->Unlock();
    Buffer->SetCurrentLength(static_cast<DWORD>(strlen(Text)));
    return Buffer;
}

} // namespace

TEST(Sample, TimesFlagsAndBuffers)
{
    ComPtr<IMFSample> Sample;
    ASSERT_EQ(MFCreateSample(Sample.GetAddressOf()), S_OK);
    LONGLONG Time = 0;
    EXPECT_EQ(Sample->GetSampleTime(&Time), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(Sample->GetSampleDuration(&Time), MF_E_NO_SAMPLE_DURATION);
    Sample->SetSampleTime(333666);
    EXPECT_EQ(Sample->GetSampleTime(&Time), S_OK);
    EXPECT_EQ(Time, 333666);
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(Sample->ConvertToContiguousBuffer(Buffer.GetAddressOf()), E_UNEXPECTED);

    // One buffer: the contiguous buffer is that buffer.
    auto First = BufferWith("abc");
    Sample->AddBuffer(First.Get());
    EXPECT_EQ(Sample->ConvertToContiguousBuffer(Buffer.GetAddressOf()), S_OK);
    EXPECT_EQ(Buffer.Get(), First.Get());

    // Two: their bytes, in order, in one buffer that replaces them.
    Sample->AddBuffer(BufferWith("defg").Get());
    DWORD Total = 0;
    Sample->GetTotalLength(&Total);
    EXPECT_EQ(Total, 7u);
    ASSERT_EQ(Sample->ConvertToContiguousBuffer(Buffer.ReleaseAndGetAddressOf()), S_OK);
    BYTE* Data = nullptr;
    DWORD Length = 0;
    Buffer->Lock(&Data, nullptr, &Length);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Data), Length), "abcdefg");
    Buffer->Unlock();
    DWORD Count = 0;
    Sample->GetBufferCount(&Count);
    EXPECT_EQ(Count, 1u);
    EXPECT_EQ(Sample->RemoveBufferByIndex(1), E_INVALIDARG);

    // Attributes are there too, and the sample answers for them.
    ComPtr<IMFAttributes> Attributes;
    EXPECT_EQ(Sample.As(&Attributes), S_OK);
    ComPtr<IMFMediaType> NotAType;
    EXPECT_EQ(Sample.As(&NotAType), E_NOINTERFACE);
}
