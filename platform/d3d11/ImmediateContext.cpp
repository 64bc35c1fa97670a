#include "ImmediateContext.h"

#include <algorithm>
#include <cstring>

#include "Com/Implementation.h"

namespace Platform::D3D11 {

using Microsoft::WRL::ComPtr;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

VkPrimitiveTopology TopologyOf(D3D11_PRIMITIVE_TOPOLOGY Topology, bool& Known)
{
    Known = true;
    switch (Topology)
    {
    case D3D11_PRIMITIVE_TOPOLOGY_POINTLIST: return VK_PRIMITIVE_TOPOLOGY_POINT_LIST;
    case D3D11_PRIMITIVE_TOPOLOGY_LINELIST: return VK_PRIMITIVE_TOPOLOGY_LINE_LIST;
    case D3D11_PRIMITIVE_TOPOLOGY_LINESTRIP: return VK_PRIMITIVE_TOPOLOGY_LINE_STRIP;
    case D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST: return VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    case D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP: return VK_PRIMITIVE_TOPOLOGY_TRIANGLE_STRIP;
    default: Known = false; return VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    }
}

} // namespace

ImmediateContext::ImmediateContext(IUnknown* Device, std::shared_ptr<DeviceState> State)
    : m_Device(Device), m_State(std::move(State))
{}

ImmediateContext::~ImmediateContext() = default;

template <typename Implementation, typename Interface>
Implementation* ImmediateContext::Own(Interface* Object) const
{
    Implementation* Found = ImplementationOf<Implementation>(Object);
    return Found && Found->State() == m_State ? Found : nullptr;
}

STDMETHODIMP_(void) ImmediateContext::VSSetConstantBuffers(UINT StartSlot, UINT NumBuffers,
                                                           ID3D11Buffer* const* ConstantBuffers)
{
    Lock Guard(m_State->m_Lock);
    for (UINT Index = 0; ConstantBuffers && Index < NumBuffers && StartSlot + Index < ConstantBufferSlots; ++Index)
        m_VertexConstantBuffers[StartSlot + Index] = Own<Buffer>(ConstantBuffers[Index]);
}

STDMETHODIMP_(void) ImmediateContext::PSSetConstantBuffers(UINT StartSlot, UINT NumBuffers,
                                                           ID3D11Buffer* const* ConstantBuffers)
{
    Lock Guard(m_State->m_Lock);
    for (UINT Index = 0; ConstantBuffers && Index < NumBuffers && StartSlot + Index < ConstantBufferSlots; ++Index)
        m_PixelConstantBuffers[StartSlot + Index] = Own<Buffer>(ConstantBuffers[Index]);
}

STDMETHODIMP_(void) ImmediateContext::PSSetShader(ID3D11PixelShader* Shader, ID3D11ClassInstance* const*, UINT)
{
    Lock Guard(m_State->m_Lock);
    m_PixelShader = Own<PixelShader>(Shader);
}

STDMETHODIMP_(void) ImmediateContext::VSSetShader(ID3D11VertexShader* Shader, ID3D11ClassInstance* const*, UINT)
{
    Lock Guard(m_State->m_Lock);
    m_VertexShader = Own<VertexShader>(Shader);
}

STDMETHODIMP_(void) ImmediateContext::IASetInputLayout(ID3D11InputLayout* Layout)
{
    Lock Guard(m_State->m_Lock);
    m_InputLayout = Own<InputLayout>(Layout);
}

STDMETHODIMP_(void) ImmediateContext::IASetVertexBuffers(UINT StartSlot, UINT NumBuffers,
                                                         ID3D11Buffer* const* VertexBuffers, const UINT* Strides,
                                                         const UINT* Offsets)
{
    Lock Guard(m_State->m_Lock);
    if (!VertexBuffers || !Strides || !Offsets)
        return;
    for (UINT Index = 0; Index < NumBuffers && StartSlot + Index < m_VertexBuffers.size(); ++Index)
    {
        m_VertexBuffers[StartSlot + Index] = Own<Buffer>(VertexBuffers[Index]);
        m_Strides[StartSlot + Index] = Strides[Index];
        m_Offsets[StartSlot + Index] = Offsets[Index];
    }
}

STDMETHODIMP_(void) ImmediateContext::IASetIndexBuffer(ID3D11Buffer* IndexBuffer, DXGI_FORMAT Format, UINT Offset)
{
    Lock Guard(m_State->m_Lock);
    m_IndexBuffer = Own<Buffer>(IndexBuffer);
    m_IndexFormat = Format;
    m_IndexOffset = Offset;
}

STDMETHODIMP_(void) ImmediateContext::IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY Topology)
{
    Lock Guard(m_State->m_Lock);
    m_Topology = Topology;
}

STDMETHODIMP_(void) ImmediateContext::OMSetRenderTargets(UINT NumViews, ID3D11RenderTargetView* const* Views,
                                                         ID3D11DepthStencilView*)
{
    Lock Guard(m_State->m_Lock);
    for (UINT Index = 0; Index < m_RenderTargets.size(); ++Index)
        m_RenderTargets[Index] = Views && Index < NumViews ? Own<RenderTargetView>(Views[Index]) : nullptr;
}

STDMETHODIMP_(void) ImmediateContext::RSSetViewports(UINT NumViewports, const D3D11_VIEWPORT* Viewports)
{
    Lock Guard(m_State->m_Lock);
    // Only the first viewport is used: selecting another needs a geometry
    // shader, which this platform does not have.
    m_ViewportCount = Viewports ? NumViewports : 0;
    if (m_ViewportCount > 0)
        m_Viewport = Viewports[0];
}

void ImmediateContext::AddConstantBuffers(Vulkan::DrawCall& Call, const ShaderProgram& Program,
                                          const std::array<ComPtr<Buffer>, ConstantBufferSlots>& Buffers,
                                          uint32_t BindingBase)
{
    for (uint32_t Slot = 0; Slot < ConstantBufferSlots; ++Slot)
    {
        if (!(Program.m_Reflection.m_ConstantBuffers & (1u << Slot)))
            continue;
        // An unbound constant buffer reads as zeros, as in Direct3D.
        const Buffer* Bound = Buffers[Slot].Get();
        const bool Usable = Bound && (Bound->Desc().BindFlags & D3D11_BIND_CONSTANT_BUFFER);
        Call.m_Uniforms.push_back(
            {BindingBase + Slot,
             Usable ? Bound->Storage() : Vulkan::BufferSlice::Whole(m_State->m_Commands.ZeroBuffer())});
    }
}

bool ImmediateContext::DescribeVertexInput(Vulkan::DrawCall& Call)
{
    // Each input of the shader from its element of the layout.
    const ShaderProgram& Vertex = m_VertexShader->m_Program;
    if (Vertex.m_Reflection.m_Inputs.empty())
        return true;
    if (!m_InputLayout)
        return false;
    Vulkan::PipelineDescription& Description = Call.m_Pipeline;
    Description.m_InputLayoutId = m_InputLayout->m_Id;
    uint32_t UsedSlots = 0;
    for (const ShaderCode::Input& Input : Vertex.m_Reflection.m_Inputs)
    {
        const InputLayout::Element* Element = m_InputLayout->Find(Input);
        if (!Element)
            return false;
        Description.m_Attributes.push_back({Input.m_Location, Element->m_Slot, Element->m_Format, Element->m_Offset});
        if (UsedSlots & (1u << Element->m_Slot))
            continue;
        UsedSlots |= 1u << Element->m_Slot;
        Description.m_Bindings.push_back(
            {Element->m_Slot, m_Strides[Element->m_Slot],
             Element->m_PerInstance ? VK_VERTEX_INPUT_RATE_INSTANCE : VK_VERTEX_INPUT_RATE_VERTEX});
        // An unbound vertex buffer reads as zeros, as in Direct3D.
        const Buffer* Bound = m_VertexBuffers[Element->m_Slot].Get();
        if (Bound)
            Call.m_Vertices.push_back({Element->m_Slot, Bound->Storage(), m_Offsets[Element->m_Slot]});
        else
            Call.m_Vertices.push_back(
                {Element->m_Slot, Vulkan::BufferSlice::Whole(m_State->m_Commands.ZeroBuffer()), 0});
    }
    return true;
}

bool ImmediateContext::DescribeDraw(Vulkan::DrawCall& Call)
{
    Call.Clear();
    if (!m_VertexShader || !m_PixelShader || m_ViewportCount == 0 || m_Viewport.Width <= 0 || m_Viewport.Height <= 0 ||
        !m_RenderTargets[0])
        return false;
    bool KnownTopology = false;
    Vulkan::PipelineDescription& Description = Call.m_Pipeline;
    Description.m_Topology = TopologyOf(m_Topology, KnownTopology);
    if (!KnownTopology)
        return false;
    // The default rasterizer state: back faces culled, clockwise triangles in
    // front. The viewport is flipped (below), so windings read as they do in
    // Direct3D.
    Description.m_CullMode = VK_CULL_MODE_BACK_BIT;
    Description.m_FrontFace = VK_FRONT_FACE_CLOCKWISE;
    const ShaderProgram& Vertex = m_VertexShader->m_Program;
    const ShaderProgram& Pixel = m_PixelShader->m_Program;
    Description.m_VertexShaderId = Vertex.m_Id;
    Description.m_PixelShaderId = Pixel.m_Id;
    Description.m_InputLayoutId = 0;
    Description.m_VertexShader = Vertex.m_Module->Handle();
    Description.m_PixelShader = Pixel.m_Module->Handle();
    Description.m_VertexEntryPoint = Vertex.m_Reflection.m_EntryPoint.c_str();
    Description.m_PixelEntryPoint = Pixel.m_Reflection.m_EntryPoint.c_str();
    if (!DescribeVertexInput(Call))
        return false;
    for (const ComPtr<RenderTargetView>& View : m_RenderTargets)
    {
        if (!View)
            break;
        Call.m_Targets.push_back(View->m_View);
        Description.m_ColorFormats.push_back(View->m_View->Format());
    }
    // Direct3D's y axis points up: a negative height keeps the picture upright.
    Call.m_Viewport = {m_Viewport.TopLeftX, m_Viewport.TopLeftY + m_Viewport.Height,
                       m_Viewport.Width,    -m_Viewport.Height,
                       m_Viewport.MinDepth, m_Viewport.MaxDepth};
    AddConstantBuffers(Call, Vertex, m_VertexConstantBuffers, VertexStageBindingBase);
    AddConstantBuffers(Call, Pixel, m_PixelConstantBuffers, PixelStageBindingBase);
    return true;
}

STDMETHODIMP_(void) ImmediateContext::DrawIndexed(UINT IndexCount, UINT StartIndexLocation, INT BaseVertexLocation)
{
    Lock Guard(m_State->m_Lock);
    if (!m_IndexBuffer || (m_IndexFormat != DXGI_FORMAT_R16_UINT && m_IndexFormat != DXGI_FORMAT_R32_UINT) ||
        IndexCount == 0 || !DescribeDraw(m_Draw))
        return;
    const bool Short = m_IndexFormat == DXGI_FORMAT_R16_UINT;
    m_Draw.m_Indices = m_IndexBuffer->Storage();
    m_Draw.m_IndexOffset = m_IndexOffset & ~(Short ? 1u : 3u);
    m_Draw.m_IndexType = Short ? VK_INDEX_TYPE_UINT16 : VK_INDEX_TYPE_UINT32;
    m_Draw.m_Count = IndexCount;
    m_Draw.m_First = StartIndexLocation;
    m_Draw.m_VertexOffset = BaseVertexLocation;
    m_State->m_Commands.Draw(m_Draw);
}

STDMETHODIMP_(void) ImmediateContext::Draw(UINT VertexCount, UINT StartVertexLocation)
{
    Lock Guard(m_State->m_Lock);
    if (VertexCount == 0 || !DescribeDraw(m_Draw))
        return;
    m_Draw.m_Count = VertexCount;
    m_Draw.m_First = StartVertexLocation;
    m_Draw.m_VertexOffset = 0;
    m_State->m_Commands.Draw(m_Draw);
}

namespace {

// Whether a map of this type is allowed on a resource of this usage and
// CPU access.
bool MapAllowed(D3D11_MAP MapType, D3D11_USAGE Usage, UINT CpuAccess, bool IsBuffer)
{
    if (MapType < D3D11_MAP_READ || MapType > D3D11_MAP_WRITE_NO_OVERWRITE)
        return false;
    const bool Reads = MapType == D3D11_MAP_READ || MapType == D3D11_MAP_READ_WRITE;
    const bool Writes = MapType != D3D11_MAP_READ;
    if ((Reads && !(CpuAccess & D3D11_CPU_ACCESS_READ)) || (Writes && !(CpuAccess & D3D11_CPU_ACCESS_WRITE)))
        return false;
    if (Usage == D3D11_USAGE_DYNAMIC)
        return MapType == D3D11_MAP_WRITE_DISCARD || (MapType == D3D11_MAP_WRITE_NO_OVERWRITE && IsBuffer);
    return Usage == D3D11_USAGE_STAGING && MapType != D3D11_MAP_WRITE_DISCARD &&
           MapType != D3D11_MAP_WRITE_NO_OVERWRITE;
}

} // namespace

STDMETHODIMP ImmediateContext::Map(ID3D11Resource* Resource, UINT Subresource, D3D11_MAP MapType, UINT MapFlags,
                                   D3D11_MAPPED_SUBRESOURCE* MappedResource)
{
    if (MappedResource)
        *MappedResource = {};
    Lock Guard(m_State->m_Lock);
    const HRESULT Removed = Dxgi::HresultFromVk(m_State->Vulkan()->RemovedReason());
    if (FAILED(Removed))
        return Removed;
    Texture2D* Texture = Own<Texture2D>(Resource);
    Buffer* Object = Texture ? nullptr : Own<Buffer>(Resource);
    if ((!Texture && !Object) || Subresource != 0)
        return E_INVALIDARG;
    const D3D11_USAGE Usage = Texture ? Texture->Desc().Usage : Object->Desc().Usage;
    const UINT CpuAccess = Texture ? Texture->Desc().CPUAccessFlags : Object->Desc().CPUAccessFlags;
    if (!MapAllowed(MapType, Usage, CpuAccess, Object != nullptr))
        return E_INVALIDARG;

    uint8_t* Data = nullptr;
    if (Object && Usage == D3D11_USAGE_DYNAMIC)
    {
        // A dynamic buffer takes a fresh range when discarded: no waiting.
        Data = MapType == D3D11_MAP_WRITE_DISCARD ? Object->Discard() : Object->Storage().Host();
        if (!Data)
            return E_OUTOFMEMORY;
    }
    else
    {
        const std::shared_ptr<Vulkan::Buffer> Memory = HostMemory(Texture, Object);
        if (!Memory || !Memory->Mapped())
            return E_INVALIDARG;
        Vulkan::CommandContext& Commands = m_State->m_Commands;
        const bool Reads = MapType == D3D11_MAP_READ || MapType == D3D11_MAP_READ_WRITE;
        if (Reads)
            Commands.PrepareHostRead(Memory);
        // Wait for the device to finish with the memory (still drawing
        // where the caller does not wait).
        const HRESULT Waited =
            Dxgi::HresultFromVk(Commands.WaitForHostAccess(*Memory, !(MapFlags & D3D11_MAP_FLAG_DO_NOT_WAIT)));
        if (FAILED(Waited))
            return Waited;
        if (Reads)
            Memory->InvalidateHostRange();
        Data = Memory->Mapped();
    }
    if (MappedResource)
    {
        MappedResource->pData = Data;
        MappedResource->RowPitch = Texture ? Texture->m_Layout[0].m_RowPitch : Object->Desc().ByteWidth;
        MappedResource->DepthPitch =
            Texture ? static_cast<UINT>(HostSize(Texture->m_Layout)) : Object->Desc().ByteWidth;
    }
    return S_OK;
}

std::shared_ptr<Vulkan::Buffer> ImmediateContext::HostMemory(Texture2D* Texture, Buffer* Object) const
{
    return Texture ? Texture->m_Host : Object->Storage().m_Buffer;
}

STDMETHODIMP_(void) ImmediateContext::Unmap(ID3D11Resource* Resource, UINT Subresource)
{
    Lock Guard(m_State->m_Lock);
    Texture2D* Texture = Own<Texture2D>(Resource);
    Buffer* Object = Texture ? nullptr : Own<Buffer>(Resource);
    if ((!Texture && !Object) || Subresource != 0)
        return;
    const std::shared_ptr<Vulkan::Buffer> Memory = HostMemory(Texture, Object);
    if (!Memory)
        return;
    Memory->FlushHostRange();
    // A dynamic texture's pixels live in its image: copy the new ones there.
    if (Texture && Texture->m_Image)
        m_State->m_Commands.CopyPixels(Vulkan::BufferSlice::Whole(Memory), HostPlanes(Texture->m_Layout), {},
                                       Texture->m_Image, {}, {Texture->Desc().Width, Texture->Desc().Height});
}

void ImmediateContext::CopyTextureRegion(Texture2D& Destination, UINT DstX, UINT DstY, Texture2D& Source,
                                         const D3D11_BOX& Box)
{
    const VkOffset2D From = {int32_t(Box.left), int32_t(Box.top)}, To = {int32_t(DstX), int32_t(DstY)};
    const VkExtent2D Extent = {Box.right - Box.left, Box.bottom - Box.top};
    Vulkan::CommandContext& Commands = m_State->m_Commands;
    // Between an image and host memory: the host side is addressed by its
    // plane layout.
    if (Source.m_Image && Destination.m_Image)
        Commands.CopyPixels(Source.m_Image, From, Destination.m_Image, To, Extent);
    else if (Source.m_Image)
        Commands.CopyPixels(Source.m_Image, From, Vulkan::BufferSlice::Whole(Destination.m_Host),
                            HostPlanes(Destination.m_Layout), To, Extent);
    else
        Commands.CopyPixels(Vulkan::BufferSlice::Whole(Source.m_Host), HostPlanes(Source.m_Layout), From,
                            Destination.m_Image, To, Extent);
}

void ImmediateContext::CopyHostRegion(Texture2D& Destination, UINT DstX, UINT DstY, Texture2D& Source,
                                      const D3D11_BOX& Box)
{
    // Host to host, row by row.
    std::vector<VkBufferCopy> Rows;
    for (size_t Index = 0; Index < Source.m_Layout.size(); ++Index)
    {
        const PlaneLayout& Plane = Source.m_Layout[Index];
        const PlaneLayout& Target = Destination.m_Layout[Index];
        const uint32_t ScaleX = Source.Desc().Width / Plane.m_Width, ScaleY = Source.Desc().Height / Plane.m_Height;
        const uint64_t RowBytes = uint64_t((Box.right - Box.left) / ScaleX) * Plane.m_TexelBytes;
        for (uint32_t Row = 0; Row < (Box.bottom - Box.top) / ScaleY; ++Row)
            Rows.push_back({Plane.m_Offset + uint64_t(Box.top / ScaleY + Row) * Plane.m_RowPitch +
                                uint64_t(Box.left / ScaleX) * Plane.m_TexelBytes,
                            Target.m_Offset + uint64_t(DstY / ScaleY + Row) * Target.m_RowPitch +
                                uint64_t(DstX / ScaleX) * Target.m_TexelBytes,
                            RowBytes});
    }
    m_State->m_Commands.CopyBuffer(Vulkan::BufferSlice::Whole(Source.m_Host),
                                   Vulkan::BufferSlice::Whole(Destination.m_Host), Rows);
}

void ImmediateContext::CopyBufferRegion(Buffer& Destination, UINT DstX, Buffer& Source, UINT Left, UINT Right)
{
    Destination.PrepareDeviceWrite(DstX == 0 && Right - Left == Destination.Desc().ByteWidth);
    const VkBufferCopy Region = {Left, DstX, Right - Left};
    m_State->m_Commands.CopyBuffer(Source.Storage(), Destination.Storage(), {&Region, 1});
}

STDMETHODIMP_(void) ImmediateContext::CopySubresourceRegion(ID3D11Resource* DstResource, UINT DstSubresource, UINT DstX,
                                                            UINT DstY, UINT DstZ, ID3D11Resource* SrcResource,
                                                            UINT SrcSubresource, const D3D11_BOX* SrcBox)
{
    Lock Guard(m_State->m_Lock);
    if (DstSubresource != 0 || SrcSubresource != 0 || DstZ != 0 || DstResource == SrcResource)
        return;
    if (Texture2D* Destination = Own<Texture2D>(DstResource))
    {
        // Formats of one family copy bit for bit; others not at all.
        Texture2D* Source = Own<Texture2D>(SrcResource);
        if (!Source || Source->Format().m_Family != Destination->Format().m_Family)
            return;
        const D3D11_BOX Whole = {0, 0, 0, Source->Desc().Width, Source->Desc().Height, 1};
        const D3D11_BOX Box = SrcBox ? *SrcBox : Whole;
        // Regions must lie inside both textures and, for subsampled formats,
        // on whole chroma samples.
        const bool Even = Source->Format().m_EvenSize;
        const bool Planar = Source->Format().m_Planes == 2;
        if (Box.left >= Box.right || Box.top >= Box.bottom || Box.right > Source->Desc().Width ||
            Box.bottom > Source->Desc().Height || DstX + (Box.right - Box.left) > Destination->Desc().Width ||
            DstY + (Box.bottom - Box.top) > Destination->Desc().Height ||
            (Even && ((Box.left | Box.right | DstX) & 1)) || (Planar && ((Box.top | Box.bottom | DstY) & 1)))
            return;
        if (Source->m_Image || Destination->m_Image)
            CopyTextureRegion(*Destination, DstX, DstY, *Source, Box);
        else
            CopyHostRegion(*Destination, DstX, DstY, *Source, Box);
    }
    else if (Buffer* Target = Own<Buffer>(DstResource))
    {
        Buffer* Source = Own<Buffer>(SrcResource);
        if (!Source)
            return;
        const UINT Left = SrcBox ? SrcBox->left : 0, Right = SrcBox ? SrcBox->right : Source->Desc().ByteWidth;
        if (Left >= Right || Right > Source->Desc().ByteWidth || DstX + (Right - Left) > Target->Desc().ByteWidth)
            return;
        CopyBufferRegion(*Target, DstX, *Source, Left, Right);
    }
}

STDMETHODIMP_(void) ImmediateContext::CopyResource(ID3D11Resource* DstResource, ID3D11Resource* SrcResource)
{
    Lock Guard(m_State->m_Lock);
    if (DstResource == SrcResource)
        return;
    if (Texture2D* Destination = Own<Texture2D>(DstResource))
    {
        // Formats of one family copy bit for bit; others not at all.
        Texture2D* Source = Own<Texture2D>(SrcResource);
        if (!Source || Source->Format().m_Family != Destination->Format().m_Family ||
            Source->Desc().Width != Destination->Desc().Width || Source->Desc().Height != Destination->Desc().Height ||
            Destination->Desc().Usage == D3D11_USAGE_IMMUTABLE)
            return;
        const D3D11_BOX Whole = {0, 0, 0, Source->Desc().Width, Source->Desc().Height, 1};
        if (Source->m_Image || Destination->m_Image)
            CopyTextureRegion(*Destination, 0, 0, *Source, Whole);
        else
            CopyHostRegion(*Destination, 0, 0, *Source, Whole);
    }
    else if (Buffer* Target = Own<Buffer>(DstResource))
    {
        Buffer* Source = Own<Buffer>(SrcResource);
        if (!Source || Source->Desc().ByteWidth != Target->Desc().ByteWidth ||
            Target->Desc().Usage == D3D11_USAGE_IMMUTABLE)
            return;
        CopyBufferRegion(*Target, 0, *Source, 0, Source->Desc().ByteWidth);
    }
}

void ImmediateContext::UpdateTexture(Texture2D& Texture, const D3D11_BOX* DstBox, const void* SrcData, UINT SrcRowPitch)
{
    if (Texture.Desc().Usage != D3D11_USAGE_DEFAULT || Texture.Format().m_Planes != 1 || !Texture.m_Image)
        return;
    const D3D11_BOX Whole = {0, 0, 0, Texture.Desc().Width, Texture.Desc().Height, 1};
    const D3D11_BOX Box = DstBox ? *DstBox : Whole;
    if (Box.left >= Box.right || Box.top >= Box.bottom || Box.right > Whole.right || Box.bottom > Whole.bottom ||
        (Texture.Format().m_EvenSize && ((Box.left | Box.right) & 1)))
        return;
    const uint32_t Width = Box.right - Box.left, Height = Box.bottom - Box.top;
    const size_t RowBytes = size_t(Width) * Texture.Format().m_TexelBytes;
    const size_t Pitch = SrcRowPitch ? SrcRowPitch : RowBytes;
    Vulkan::BufferSlice Upload;
    if (m_State->m_Commands.Upload(RowBytes * Height, Upload) != VK_SUCCESS)
        return;
    for (uint32_t Row = 0; Row < Height; ++Row)
        std::memcpy(Upload.Host() + Row * RowBytes, static_cast<const uint8_t*>(SrcData) + Row * Pitch, RowBytes);
    Upload.m_Buffer->FlushHostRange();
    VkBufferImageCopy Region = {};
    Region.bufferRowLength = Width;
    Region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    Region.imageOffset = {int32_t(Box.left), int32_t(Box.top), 0};
    Region.imageExtent = {Width, Height, 1};
    const bool All = Width == Whole.right && Height == Whole.bottom;
    m_State->m_Commands.CopyBufferToImage(Upload, Texture.m_Image, {&Region, 1}, All);
}

STDMETHODIMP_(void) ImmediateContext::UpdateSubresource(ID3D11Resource* DstResource, UINT DstSubresource,
                                                        const D3D11_BOX* DstBox, const void* SrcData, UINT SrcRowPitch,
                                                        UINT)
{
    Lock Guard(m_State->m_Lock);
    if (!SrcData || DstSubresource != 0)
        return;
    if (Buffer* Target = Own<Buffer>(DstResource))
    {
        if (Target->Desc().Usage != D3D11_USAGE_DEFAULT)
            return;
        const UINT Left = DstBox ? DstBox->left : 0, Right = DstBox ? DstBox->right : Target->Desc().ByteWidth;
        if (Left >= Right || Right > Target->Desc().ByteWidth)
            return;
        Target->Update(Left, Right, SrcData);
    }
    else if (Texture2D* Texture = Own<Texture2D>(DstResource))
        UpdateTexture(*Texture, DstBox, SrcData, SrcRowPitch);
}

STDMETHODIMP_(void) ImmediateContext::ClearRenderTargetView(ID3D11RenderTargetView* Target, const FLOAT ColorRGBA[4])
{
    Lock Guard(m_State->m_Lock);
    RenderTargetView* View = Own<RenderTargetView>(Target);
    if (!View || !ColorRGBA || View->State() != m_State)
        return;
    VkClearColorValue Color;
    std::memcpy(Color.float32, ColorRGBA, sizeof(Color.float32));
    m_State->m_Commands.Clear(View->m_View->Target(), Color);
}

STDMETHODIMP_(void) ImmediateContext::ClearState()
{
    Lock Guard(m_State->m_Lock);
    for (auto& Slot : m_VertexConstantBuffers)
        Slot.Reset();
    for (auto& Slot : m_PixelConstantBuffers)
        Slot.Reset();
    m_VertexShader.Reset();
    m_PixelShader.Reset();
    m_InputLayout.Reset();
    for (auto& Slot : m_VertexBuffers)
        Slot.Reset();
    m_Strides = {};
    m_Offsets = {};
    m_IndexBuffer.Reset();
    m_IndexFormat = DXGI_FORMAT_UNKNOWN;
    m_IndexOffset = 0;
    m_Topology = D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED;
    for (auto& Slot : m_RenderTargets)
        Slot.Reset();
    m_ViewportCount = 0;
    m_Viewport = {};
    m_Draw.Clear();
}

STDMETHODIMP_(void) ImmediateContext::Flush()
{
    Lock Guard(m_State->m_Lock);
    m_State->m_Commands.Flush();
}

} // namespace Platform::D3D11
