#!/usr/bin/env bash
# The texts the tool traces when a check fails, each held against the built
# code: traced_texts_test.sh TOOL OBJECT...
# TOOL is the executable; the OBJECTs (archives or object files) are what it
# was linked from. The linker may keep a short text only as the tail of a
# longer one ("Result" inside "CompileResult"), so each text must end a
# string of the executable and be a whole string of the objects.
set -u
tool=${1:?usage: traced_texts_test.sh TOOL OBJECT...}
shift
[ $# -gt 0 ] || {
    echo "usage: traced_texts_test.sh TOOL OBJECT..."
    exit 2
}

texts=$(mktemp)
trap 'rm -f "$texts" "$texts".*' EXIT
# One text per line, exactly as traced; '#' lines only group them.
cat >"$texts" <<'TEXTS'
# Entry point and command line
RoInitializeWrapper
Arguments.Next(Index, Value)
m_Configuration.m_FrameSizeW > 0 && m_Configuration.m_FrameSizeH > 0
m_Configuration.m_FrameRateN > 0 && m_Configuration.m_FrameRateD > 0
# Encoding run
MfStartupWrapper
MFCreateMediaType(Argb32MediaType.GetAddressOf())
Argb32MediaType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video)
Argb32MediaType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_ARGB32)
MFSetAttributeSize(Argb32MediaType.Get(), MF_MT_FRAME_SIZE, m_Configuration.m_FrameSizeW, m_Configuration.m_FrameSizeH)
MFSetAttributeRatio(Argb32MediaType.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1)
Argb32MediaType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive)
MFSetAttributeRatio(Argb32MediaType.Get(), MF_MT_FRAME_RATE, m_Configuration.m_FrameRateN, m_Configuration.m_FrameRateD)
Context.m_Device.As(&Multithread)
MFCreateDXGIDeviceManager(&ResetToken, DeviceManager.GetAddressOf())
DeviceManager->ResetDevice(Context.m_Device.Get(), ResetToken)
VideoSampleAllocatorEx->SetDirectXManager(DeviceManager.Get())
MFCreateAttributes(Attributes.GetAddressOf(), 8)
Attributes->SetUINT32(MF_SA_D3D11_BINDFLAGS, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET)
Attributes->SetUINT32(MF_SA_D3D11_USAGE, D3D11_USAGE_DEFAULT)
VideoSampleAllocatorEx->InitializeSampleAllocatorEx(16, 64, Attributes.Get(), Argb32MediaType.Get())
MFCreateMediaType(H264MediaType.GetAddressOf())
H264MediaType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video)
H264MediaType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264)
H264MediaType->SetUINT32(MF_MT_AVG_BITRATE, m_Configuration.m_Bitrate)
Attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1)
Attributes->SetUnknown(MF_SINK_WRITER_D3D_MANAGER, DeviceManager.Get())
MFCreateSinkWriterFromURL(m_OutputPath.c_str(), nullptr, Attributes.Get(), SinkWriter.GetAddressOf())
SinkWriter->AddStream(H264MediaType.Get(), &StreamIndex)
SinkWriter->SetInputMediaType(StreamIndex, Argb32MediaType.Get(), nullptr)
SinkWriter->BeginWriting()
AllocateSampleResult
Sample->ConvertToContiguousBuffer(&MediaBuffer)
MediaBuffer.As(&DxgiBuffer)
DxgiBuffer->GetResource(IID_PPV_ARGS(&Texture))
DxgiBuffer->GetSubresourceIndex(&SubresourceIndex)
Sample->SetSampleTime(SampleTime)
Sample->SetSampleDuration(MFllMulDiv(FrameIndex + 1, 1000 * 10000i64 * m_Configuration.m_FrameRateD, m_Configuration.m_FrameRateN, 0) - SampleTime)
Sample->SetUINT32(MFSampleExtension_Discontinuity, 1)
Sample->SetUINT32(MFSampleExtension_CleanPoint, 1)
SinkWriter->WriteSample(StreamIndex, Sample.Get())
SinkWriter->Finalize()
VideoSampleAllocatorEx->UninitializeSampleAllocator()
# Adapter listing
CreateDXGIFactory2(DxgiFactoryDebugFlag, IID_PPV_ARGS(DxgiFactory.GetAddressOf()))
Result
DxgiAdapter.As(&DxgiAdapter1)
DxgiAdapter1->GetDesc1(&DxgiAdapterDesc)
# Rendering context
CreateDXGIFactory2(CreateFactoryFlags, IID_PPV_ARGS(&m_DxgiFactory))
m_DxgiFactory->EnumAdapters1(m_Configuration.m_DxgiAdapterIndex, m_DxgiAdapter1.GetAddressOf())
m_DxgiAdapter1->GetDesc1(&m_DxgiAdapterDesc1)
D3D11CreateDevice(m_DxgiAdapter1.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, CreateDeviceFlags, nullptr, 0, D3D11_SDK_VERSION, m_Device.GetAddressOf(), &m_FeatureLevel, m_DeviceContext.GetAddressOf())
m_Device->CreateTexture2D(&TextureDesc, nullptr, m_Texture.GetAddressOf())
m_Device->CreateRenderTargetView(m_Texture.Get(), nullptr, m_RenderTargetView.GetAddressOf())
m_Device->CreateBuffer(&ConstantBufferDesc, nullptr, m_ConstantBuffer.GetAddressOf())
m_Device->CreateVertexShader(VertexShaderBlob->GetBufferPointer(), VertexShaderBlob->GetBufferSize(), nullptr, m_VertexShader.GetAddressOf())
m_Device->CreateInputLayout(InputElementDesc, InputElementCount, VertexShaderBlob->GetBufferPointer(), VertexShaderBlob->GetBufferSize(), m_VertexInputLayout.GetAddressOf())
m_Device->CreatePixelShader(PixelShaderBlob->GetBufferPointer(), PixelShaderBlob->GetBufferSize(), nullptr, m_PixelShader.GetAddressOf())
m_Device->CreateBuffer(&VertexBufferDesc, &Data, m_VertexBuffer.GetAddressOf())
m_Device->CreateBuffer(&IndexBufferDesc, &Data, m_IndexBuffer.GetAddressOf())
# Shader program
Resource
ResourceDataHandle
CompileResult
# Tracked video sample
MFCreateSample(m_Sample.GetAddressOf())
AllocatorAsyncCallback
!m_AsyncResult
MFCreateAsyncResult((IMFTrackedSample*) this, AllocatorAsyncCallback, StateUnknown, m_AsyncResult.GetAddressOf())
# Allocator setup and pool
ManagerUnknown
ManagerUnknown->QueryInterface(IID_PPV_ARGS(&DxgiDeviceManager))
SampleCount > 0 && MediaType
MediaType
MFGetAttributeSize(MediaType, MF_MT_FRAME_SIZE, &Width, &Height)
MediaType->GetGUID(MF_MT_SUBTYPE, &Subtype)
Subtype == MFVideoFormat_ARGB32 || Subtype == MFVideoFormat_RGB32 || Subtype == MFVideoFormat_NV12 || Subtype == MFVideoFormat_YUY2
SampleCount > 0
m_ItemVector.empty()
m_DxgiDeviceManager
Device->CreateTexture2D(&Description, nullptr, Texture.GetAddressOf())
MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture, SubresourceIndex, BottomUpWhenLinear, MediaBuffer.GetAddressOf())
MediaBuffer.As(&Buffer)
Buffer->GetContiguousLength(&Length)
MediaBuffer->SetCurrentLength(Length)
m_Sample->AddBuffer(MediaBuffer.Get())
m_Sample->SetUINT32(__uuidof(SampleIndex), (UINT32) Index)
# Sample allocation and recycling
pnSampleCount
Sample
!m_ItemVector.empty()
AvailableSample->DeleteAllItems()
AvailableSample->SetUINT32(__uuidof(SampleIndex), (UINT32) Index)
AvailableSample.As(&TrackedSample)
TrackedSample->SetAllocator(this, nullptr)
AsyncResult
AsyncResult->GetObject(&SampleUnknown)
SampleUnknown->QueryInterface(IID_PPV_ARGS(&Sample))
# Media Foundation helpers
Output->SetItem(Key, LocalValue)
PropVariantClear(this)
Manager->OpenDeviceHandle(&m_Handle)
m_Manager->GetVideoService(m_Handle, IID_PPV_ARGS(&Device))
m_Manager->CloseDeviceHandle(m_Handle)
TEXTS

[ -f "$tool" ] || {
    echo "FAIL: no tool at $tool"
    exit 1
}
for object in "$@"; do
    [ -f "$object" ] || {
        echo "FAIL: no object file at $object"
        exit 1
    }
done
# The read-only data alone (the debugging information names every variable,
# and a text that is only a name would be found there), then every run of
# printable characters, one a line: a C string is one run.
read_only_strings() {
    local file
    for file in "$@"; do
        objcopy --strip-all --only-section='.rodata*' "$file" "$texts.data" 2>/dev/null || {
            echo "FAIL: cannot read $file" >&2
            return 1
        }
        strings -a -n 4 "$texts.data"
    done
}
read_only_strings "$tool" >"$texts.tool" || exit 1
read_only_strings "$@" >"$texts.objects" || exit 1

awk -v tool="$tool" '
    FILENAME == ARGV[1] {
        if ($0 != "" && substr($0, 1, 1) != "#")
        {
            wanted[++count] = $0
            wanted_text[$0] = 1
            lengths[length($0)] = 1
        }
        next
    }
    FILENAME == ARGV[2] { whole[$0] = 1; next }
    {
        # A string of the executable carries every text that ends it.
        for (size in lengths)
            if (length($0) >= size + 0)
            {
                end = substr($0, length($0) - size + 1)
                if (end in wanted_text)
                    ended[end] = 1
            }
    }
    END {
        failures = 0
        for (i = 1; i <= count; ++i)
        {
            if (!(wanted[i] in whole))
            {
                printf "FAIL: not traced by the code: \"%s\"\n", wanted[i]
                ++failures
            }
            else if (!(wanted[i] in ended))
            {
                printf "FAIL: not in %s: \"%s\"\n", tool, wanted[i]
                ++failures
            }
        }
        if (failures)
            exit 1
        printf "%d traced texts found\n", count
    }
' "$texts" "$texts.objects" "$texts.tool"
