#include "ImmediateContext.h"
#include "../vulkan/Structure.h"

#include <algorithm>
#include <cstring>

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

template <typename Implementation, typename Interface>
Implementation* Cast(Interface* Object)
{
    return static_cast<Implementation*>(Object);
}

} // namespace

ImmediateContext::ImmediateContext(IUnknown* Device, std::shared_ptr<DeviceState> State)
    : m_Device(Device), m_State(std::move(State))
{
}

ImmediateContext::~ImmediateContext() = default;

Texture2D* ImmediateContext::AsTexture(ID3D11Resource* Resource) const
{
    if (!Resource)
        return nullptr;
    D3D11_RESOURCE_DIMENSION Dimension = D3D11_RESOURCE_DIMENSION_UNKNOWN;
    Resource->GetType(&Dimension);
    if (Dimension != D3D11_RESOURCE_DIMENSION_TEXTURE2D)
        return nullptr;
    Texture2D* Texture = static_cast<Texture2D*>(static_cast<ID3D11Texture2D*>(Resource));
    return Texture->State() == m_State ? Texture : nullptr;
}

Buffer* ImmediateContext::AsBuffer(ID3D11Resource* Resource) const
{
    if (!Resource)
        return nullptr;
    D3D11_RESOURCE_DIMENSION Dimension = D3D11_RESOURCE_DIMENSION_UNKNOWN;
    Resource->GetType(&Dimension);
    if (Dimension != D3D11_RESOURCE_DIMENSION_BUFFER)
        return nullptr;
    Buffer* Object = static_cast<Buffer*>(static_cast<ID3D11Buffer*>(Resource));
    return Object->State() == m_State ? Object : nullptr;
}

STDMETHODIMP_(void) ImmediateContext::VSSetConstantBuffers(UINT StartSlot, UINT NumBuffers,
                                                           ID3D11Buffer* const* ConstantBuffers)
{
    Lock Guard(m_State->m_Lock);
    for (UINT Index = 0; ConstantBuffers && Index < NumBuffers && StartSlot + Index < Vulkan::ConstantBufferSlots;
         ++Index)
        m_VertexConstantBuffers[StartSlot + Index] = Cast<Buffer>(ConstantBuffers[Index]);
}

STDMETHODIMP_(void) ImmediateContext::PSSetConstantBuffers(UINT StartSlot, UINT NumBuffers,
                                                           ID3D11Buffer* const* ConstantBuffers)
{
    Lock Guard(m_State->m_Lock);
    for (UINT Index = 0; ConstantBuffers && Index < NumBuffers && StartSlot + Index < Vulkan::ConstantBufferSlots;
         ++Index)
        m_PixelConstantBuffers[StartSlot + Index] = Cast<Buffer>(ConstantBuffers[Index]);
}

STDMETHODIMP_(void) ImmediateContext::PSSetShader(ID3D11PixelShader* Shader, ID3D11ClassInstance* const*, UINT)
{
    Lock Guard(m_State->m_Lock);
    m_PixelShader = Cast<PixelShader>(Shader);
}

STDMETHODIMP_(void) ImmediateContext::VSSetShader(ID3D11VertexShader* Shader, ID3D11ClassInstance* const*, UINT)
{
    Lock Guard(m_State->m_Lock);
    m_VertexShader = Cast<VertexShader>(Shader);
}

STDMETHODIMP_(void) ImmediateContext::IASetInputLayout(ID3D11InputLayout* Layout)
{
    Lock Guard(m_State->m_Lock);
    m_InputLayout = Cast<InputLayout>(Layout);
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
        m_VertexBuffers[StartSlot + Index] = Cast<Buffer>(VertexBuffers[Index]);
        m_Strides[StartSlot + Index] = Strides[Index];
        m_Offsets[StartSlot + Index] = Offsets[Index];
    }
}

STDMETHODIMP_(void) ImmediateContext::IASetIndexBuffer(ID3D11Buffer* IndexBuffer, DXGI_FORMAT Format, UINT Offset)
{
    Lock Guard(m_State->m_Lock);
    m_IndexBuffer = Cast<Buffer>(IndexBuffer);
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
        m_RenderTargets[Index] = Views && Index < NumViews ? Cast<RenderTargetView>(Views[Index]) : nullptr;
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

void ImmediateContext::PushConstantBuffers(
    VkCommandBuffer Commands, const ShaderProgram& Program,
    const std::array<ComPtr<Buffer>, Vulkan::ConstantBufferSlots>& Buffers, uint32_t BindingBase)
{
    VkDescriptorBufferInfo Infos[Vulkan::ConstantBufferSlots];
    VkWriteDescriptorSet Writes[Vulkan::ConstantBufferSlots];
    uint32_t Count = 0;
    for (uint32_t Slot = 0; Slot < Vulkan::ConstantBufferSlots; ++Slot)
    {
        if (!(Program.m_Reflection.m_ConstantBuffers & (1u << Slot)))
            continue;
        // An unbound constant buffer reads as zeros, as in Direct3D.
        const Buffer* Bound = Buffers[Slot].Get();
        const bool Usable = Bound && (Bound->Desc().BindFlags & D3D11_BIND_CONSTANT_BUFFER);
        const std::shared_ptr<Vulkan::Buffer>& Source = Usable ? Bound->m_Buffer : m_State->m_ZeroBuffer;
        m_State->Use(Source);
        Infos[Count] = {Source->Handle(), 0, VK_WHOLE_SIZE};
        Writes[Count] = Vulkan::Describe<std::remove_reference_t<decltype(Writes[Count])>>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
        Writes[Count].dstBinding = BindingBase + Slot;
        Writes[Count].descriptorCount = 1;
        Writes[Count].descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
        Writes[Count].pBufferInfo = &Infos[Count];
        ++Count;
    }
    if (Count > 0)
        m_State->Vulkan()->m_CmdPushDescriptorSet(Commands, VK_PIPELINE_BIND_POINT_GRAPHICS,
                                                   m_State->m_Pipelines.Layout(), 0, Count, Writes);
}

bool ImmediateContext::PrepareDraw(VkCommandBuffer& Commands)
{
    if (!m_VertexShader || !m_PixelShader || m_ViewportCount == 0 || m_Viewport.Width <= 0 ||
        m_Viewport.Height <= 0 || !m_RenderTargets[0])
        return false;
    bool KnownTopology = false;
    Vulkan::PipelineDescription Description;
    Description.m_Topology = TopologyOf(m_Topology, KnownTopology);
    if (!KnownTopology)
        return false;
    const ShaderProgram& Vertex = m_VertexShader->m_Program;
    const ShaderProgram& Pixel = m_PixelShader->m_Program;
    Description.m_VertexShaderId = Vertex.m_Id;
    Description.m_PixelShaderId = Pixel.m_Id;
    Description.m_VertexShader = Vertex.m_Module->Handle();
    Description.m_PixelShader = Pixel.m_Module->Handle();
    Description.m_VertexEntryPoint = Vertex.m_Reflection.m_EntryPoint.c_str();
    Description.m_PixelEntryPoint = Pixel.m_Reflection.m_EntryPoint.c_str();

    // Vertex input: each input of the shader from its element of the layout.
    uint32_t UsedSlots = 0;
    if (!Vertex.m_Reflection.m_Inputs.empty())
    {
        if (!m_InputLayout)
            return false;
        Description.m_InputLayoutId = m_InputLayout->m_Id;
        for (const ShaderCode::Input& Input : Vertex.m_Reflection.m_Inputs)
        {
            const InputLayout::Element* Element = m_InputLayout->Find(Input);
            if (!Element)
                return false;
            Description.m_Attributes.push_back({Input.m_Location, Element->m_Slot, Element->m_Format, Element->m_Offset});
            if (!(UsedSlots & (1u << Element->m_Slot)))
            {
                UsedSlots |= 1u << Element->m_Slot;
                Description.m_Bindings.push_back({Element->m_Slot, m_Strides[Element->m_Slot],
                                                  Element->m_PerInstance ? VK_VERTEX_INPUT_RATE_INSTANCE
                                                                         : VK_VERTEX_INPUT_RATE_VERTEX});
            }
        }
    }

    std::vector<std::shared_ptr<Vulkan::ImageView>> Targets;
    for (const ComPtr<RenderTargetView>& View : m_RenderTargets)
    {
        if (!View)
            break;
        Targets.push_back(View->m_View);
        Description.m_ColorFormats.push_back(View->m_View->Format());
    }

    VkPipeline Pipeline = VK_NULL_HANDLE;
    if (FAILED(m_State->m_Pipelines.Get(Description, Pipeline)))
        return false;

    const Vulkan::Device& Device = *m_State->Vulkan();
    if (m_State->m_PassTargets != Targets)
    {
        Commands = m_State->BeginOperation();
        if (!Commands)
            return false;
        uint32_t Width = UINT32_MAX, Height = UINT32_MAX;
        std::vector<VkRenderingAttachmentInfo> Attachments;
        for (const std::shared_ptr<Vulkan::ImageView>& Target : Targets)
        {
            Vulkan::Image& Image = *Target->Target();
            auto Attachment = Vulkan::Describe<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
            Attachment.imageView = Target->Handle();
            Attachment.imageLayout = VK_IMAGE_LAYOUT_GENERAL;
            // A clear waiting on the target becomes the pass's load operation.
            Attachment.loadOp = Image.m_PendingClear ? VK_ATTACHMENT_LOAD_OP_CLEAR : VK_ATTACHMENT_LOAD_OP_LOAD;
            Attachment.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
            if (Image.m_PendingClear)
                Attachment.clearValue.color = *Image.m_PendingClear;
            Image.m_PendingClear.reset();
            Attachments.push_back(Attachment);
            Width = std::min(Width, Image.Width());
            Height = std::min(Height, Image.Height());
        }
        auto Rendering = Vulkan::Describe<VkRenderingInfo>(VK_STRUCTURE_TYPE_RENDERING_INFO);
        Rendering.renderArea = {{0, 0}, {Width, Height}};
        Rendering.layerCount = 1;
        Rendering.colorAttachmentCount = static_cast<uint32_t>(Attachments.size());
        Rendering.pColorAttachments = Attachments.data();
        Device.m_CmdBeginRendering(Commands, &Rendering);
        m_State->m_PassTargets = Targets;

        const VkRect2D Scissor = Rendering.renderArea;
        vkCmdSetScissor(Commands, 0, 1, &Scissor);
    }
    else
        Commands = m_State->m_Stream.Commands();
    if (!Commands)
        return false;
    for (const std::shared_ptr<Vulkan::ImageView>& Target : Targets)
    {
        m_State->Use(Target->Target());
        m_State->Keep(Target);
    }
    if (m_State->m_PassPipeline != Pipeline)
    {
        vkCmdBindPipeline(Commands, VK_PIPELINE_BIND_POINT_GRAPHICS, Pipeline);
        m_State->m_PassPipeline = Pipeline;
    }
    // Direct3D's y axis points up: a negative height keeps the picture upright.
    const VkViewport Viewport = {m_Viewport.TopLeftX, m_Viewport.TopLeftY + m_Viewport.Height, m_Viewport.Width,
                                 -m_Viewport.Height, m_Viewport.MinDepth, m_Viewport.MaxDepth};
    vkCmdSetViewport(Commands, 0, 1, &Viewport);

    PushConstantBuffers(Commands, Vertex, m_VertexConstantBuffers, Vulkan::VertexStageBindingBase);
    PushConstantBuffers(Commands, Pixel, m_PixelConstantBuffers, Vulkan::PixelStageBindingBase);
    for (const VkVertexInputBindingDescription& Binding : Description.m_Bindings)
    {
        const Buffer* Bound = m_VertexBuffers[Binding.binding].Get();
        // An unbound vertex buffer reads as zeros, as in Direct3D.
        const std::shared_ptr<Vulkan::Buffer>& Source = Bound ? Bound->m_Buffer : m_State->m_ZeroBuffer;
        const VkDeviceSize Offset = Bound ? m_Offsets[Binding.binding] : 0;
        const VkBuffer Handle = Source->Handle();
        vkCmdBindVertexBuffers(Commands, Binding.binding, 1, &Handle, &Offset);
        m_State->Use(Source);
    }
    return true;
}

STDMETHODIMP_(void) ImmediateContext::DrawIndexed(UINT IndexCount, UINT StartIndexLocation, INT BaseVertexLocation)
{
    Lock Guard(m_State->m_Lock);
    if (!m_IndexBuffer || (m_IndexFormat != DXGI_FORMAT_R16_UINT && m_IndexFormat != DXGI_FORMAT_R32_UINT) ||
        IndexCount == 0)
        return;
    VkCommandBuffer Commands = VK_NULL_HANDLE;
    if (!PrepareDraw(Commands))
        return;
    const bool Short = m_IndexFormat == DXGI_FORMAT_R16_UINT;
    vkCmdBindIndexBuffer(Commands, m_IndexBuffer->m_Buffer->Handle(), m_IndexOffset & ~(Short ? 1u : 3u),
                         Short ? VK_INDEX_TYPE_UINT16 : VK_INDEX_TYPE_UINT32);
    m_State->Use(m_IndexBuffer->m_Buffer);
    vkCmdDrawIndexed(Commands, IndexCount, 1, StartIndexLocation, BaseVertexLocation, 0);
    m_State->OperationDone();
}

STDMETHODIMP_(void) ImmediateContext::Draw(UINT VertexCount, UINT StartVertexLocation)
{
    Lock Guard(m_State->m_Lock);
    if (VertexCount == 0)
        return;
    VkCommandBuffer Commands = VK_NULL_HANDLE;
    if (!PrepareDraw(Commands))
        return;
    vkCmdDraw(Commands, VertexCount, 1, StartVertexLocation, 0);
    m_State->OperationDone();
}

STDMETHODIMP ImmediateContext::Map(ID3D11Resource* Resource, UINT Subresource, D3D11_MAP MapType, UINT MapFlags,
                                   D3D11_MAPPED_SUBRESOURCE* MappedResource)
{
    if (MappedResource)
        *MappedResource = {};
    Lock Guard(m_State->m_Lock);
    const HRESULT Removed = m_State->Vulkan()->RemovedReason();
    if (FAILED(Removed))
        return Removed;
    Texture2D* Texture = AsTexture(Resource);
    Buffer* Object = Texture ? nullptr : AsBuffer(Resource);
    if ((!Texture && !Object) || Subresource != 0 || MapType < D3D11_MAP_READ || MapType > D3D11_MAP_WRITE_NO_OVERWRITE)
        return E_INVALIDARG;
    const D3D11_USAGE Usage = Texture ? Texture->Desc().Usage : Object->Desc().Usage;
    const UINT CpuAccess = Texture ? Texture->Desc().CPUAccessFlags : Object->Desc().CPUAccessFlags;
    const bool Reads = MapType == D3D11_MAP_READ || MapType == D3D11_MAP_READ_WRITE;
    const bool Writes = MapType != D3D11_MAP_READ;
    if ((Reads && !(CpuAccess & D3D11_CPU_ACCESS_READ)) || (Writes && !(CpuAccess & D3D11_CPU_ACCESS_WRITE)))
        return E_INVALIDARG;
    if (Usage == D3D11_USAGE_DYNAMIC && MapType != D3D11_MAP_WRITE_DISCARD &&
        !(MapType == D3D11_MAP_WRITE_NO_OVERWRITE && Object))
        return E_INVALIDARG;
    if (Usage == D3D11_USAGE_STAGING && (MapType == D3D11_MAP_WRITE_DISCARD || MapType == D3D11_MAP_WRITE_NO_OVERWRITE))
        return E_INVALIDARG;

    const std::shared_ptr<Vulkan::Buffer>& Memory = Texture ? Texture->m_Host : Object->m_Buffer;
    if (!Memory || !Memory->Mapped())
        return E_INVALIDARG;
    // Wait for the device to finish with the memory, unless the caller
    // promises not to touch what is in use.
    if (MapType != D3D11_MAP_WRITE_NO_OVERWRITE)
    {
        if ((MapFlags & D3D11_MAP_FLAG_DO_NOT_WAIT) && !m_State->HasCompleted(Memory->m_LastUse))
        {
            m_State->SubmitUpTo(Memory->m_LastUse, false);
            return DXGI_ERROR_WAS_STILL_DRAWING;
        }
        const HRESULT Waited = m_State->SubmitUpTo(Memory->m_LastUse, true);
        if (FAILED(Waited))
            return Waited;
    }
    if (Reads)
        Memory->InvalidateHostRange();
    if (MappedResource)
    {
        MappedResource->pData = Memory->Mapped();
        MappedResource->RowPitch = Texture ? Texture->m_Layout[0].m_RowPitch : Object->Desc().ByteWidth;
        MappedResource->DepthPitch = static_cast<UINT>(Memory->Size());
    }
    return S_OK;
}

STDMETHODIMP_(void) ImmediateContext::Unmap(ID3D11Resource* Resource, UINT Subresource)
{
    Lock Guard(m_State->m_Lock);
    Texture2D* Texture = AsTexture(Resource);
    Buffer* Object = Texture ? nullptr : AsBuffer(Resource);
    if ((!Texture && !Object) || Subresource != 0)
        return;
    const std::shared_ptr<Vulkan::Buffer>& Memory = Texture ? Texture->m_Host : Object->m_Buffer;
    if (!Memory)
        return;
    Memory->FlushHostRange();
    // A dynamic texture's pixels live in its image: copy the new ones there.
    if (Texture && Texture->m_Image)
        if (VkCommandBuffer Commands = m_State->BeginOperation())
        {
            Texture->m_Image->m_PendingClear.reset();
            Texture->RecordCopyFromHost(Commands, *Memory, Texture->m_Layout);
            m_State->Use(Memory);
            m_State->Use(Texture->m_Image);
            m_State->OperationDone();
        }
}

void ImmediateContext::CopyTextureRegion(Texture2D& Destination, UINT DstX, UINT DstY, Texture2D& Source,
                                         const D3D11_BOX& Box)
{
    const VkCommandBuffer Commands = m_State->BeginOperation();
    if (!Commands)
        return;
    const uint32_t Width = Box.right - Box.left, Height = Box.bottom - Box.top;
    const bool Whole = DstX == 0 && DstY == 0 && Width == Destination.Desc().Width &&
                       Height == Destination.Desc().Height;
    if (Source.m_Image)
        m_State->ResolveClear(Commands, *Source.m_Image);
    if (Destination.m_Image)
    {
        if (Whole)
            Destination.m_Image->m_PendingClear.reset();
        else
            m_State->ResolveClear(Commands, *Destination.m_Image);
    }
    // Planes of subsampled formats shrink with their subsampling.
    const std::vector<PlaneLayout>& Planes = Source.m_Layout;
    for (const PlaneLayout& Plane : Planes)
    {
        const uint32_t ScaleX = Source.Desc().Width / Plane.m_Width, ScaleY = Source.Desc().Height / Plane.m_Height;
        const uint32_t PlaneWidth = Width / ScaleX, PlaneHeight = Height / ScaleY;
        const VkImageSubresourceLayers Layers = {static_cast<VkImageAspectFlags>(Plane.m_Aspect), 0, 0, 1};
        const VkOffset3D SourceOffset = {int32_t(Box.left / ScaleX), int32_t(Box.top / ScaleY), 0};
        const VkOffset3D TargetOffset = {int32_t(DstX / ScaleX), int32_t(DstY / ScaleY), 0};
        if (Source.m_Image && Destination.m_Image)
        {
            const VkImageCopy Region = {Layers, SourceOffset, Layers, TargetOffset, {PlaneWidth, PlaneHeight, 1}};
            vkCmdCopyImage(Commands, Source.m_Image->Handle(), VK_IMAGE_LAYOUT_GENERAL,
                           Destination.m_Image->Handle(), VK_IMAGE_LAYOUT_GENERAL, 1, &Region);
        }
        else if (Source.m_Image || Destination.m_Image)
        {
            // Between an image and host memory: the host side is addressed by
            // its plane layout.
            const bool ToHost = Source.m_Image != nullptr;
            const Texture2D& Host = ToHost ? Destination : Source;
            const PlaneLayout& HostPlane = Host.m_Layout[&Plane - Planes.data()];
            const VkOffset3D HostOffset = ToHost ? TargetOffset : SourceOffset;
            VkBufferImageCopy Region = {};
            Region.bufferOffset = HostPlane.m_Offset + uint64_t(HostOffset.y) * HostPlane.m_RowPitch +
                                  uint64_t(HostOffset.x) * HostPlane.m_TexelBytes;
            Region.bufferRowLength = HostPlane.m_RowPitch / HostPlane.m_TexelBytes;
            Region.imageSubresource = Layers;
            Region.imageOffset = ToHost ? SourceOffset : TargetOffset;
            Region.imageExtent = {PlaneWidth, PlaneHeight, 1};
            if (ToHost)
                vkCmdCopyImageToBuffer(Commands, Source.m_Image->Handle(), VK_IMAGE_LAYOUT_GENERAL,
                                       Destination.m_Host->Handle(), 1, &Region);
            else
                vkCmdCopyBufferToImage(Commands, Source.m_Host->Handle(), Destination.m_Image->Handle(),
                                       VK_IMAGE_LAYOUT_GENERAL, 1, &Region);
        }
        else
        {
            // Host to host, row by row.
            const PlaneLayout& Target = Destination.m_Layout[&Plane - Planes.data()];
            std::vector<VkBufferCopy> Rows;
            for (uint32_t Row = 0; Row < PlaneHeight; ++Row)
                Rows.push_back({Plane.m_Offset + uint64_t(SourceOffset.y + Row) * Plane.m_RowPitch +
                                    uint64_t(SourceOffset.x) * Plane.m_TexelBytes,
                                Target.m_Offset + uint64_t(TargetOffset.y + Row) * Target.m_RowPitch +
                                    uint64_t(TargetOffset.x) * Target.m_TexelBytes,
                                uint64_t(PlaneWidth) * Plane.m_TexelBytes});
            vkCmdCopyBuffer(Commands, Source.m_Host->Handle(), Destination.m_Host->Handle(),
                            static_cast<uint32_t>(Rows.size()), Rows.data());
        }
    }
    for (Texture2D* Texture : {&Source, &Destination})
    {
        if (Texture->m_Image)
            m_State->Use(Texture->m_Image);
        if (Texture->m_Host)
            m_State->Use(Texture->m_Host);
    }
    m_State->OperationDone();
}

void ImmediateContext::CopyBufferRegion(Buffer& Destination, UINT DstX, Buffer& Source, UINT Left, UINT Right)
{
    const VkCommandBuffer Commands = m_State->BeginOperation();
    if (!Commands)
        return;
    const VkBufferCopy Region = {Left, DstX, Right - Left};
    vkCmdCopyBuffer(Commands, Source.m_Buffer->Handle(), Destination.m_Buffer->Handle(), 1, &Region);
    m_State->Use(Source.m_Buffer);
    m_State->Use(Destination.m_Buffer);
    m_State->OperationDone();
}

STDMETHODIMP_(void) ImmediateContext::CopySubresourceRegion(ID3D11Resource* DstResource, UINT DstSubresource,
                                                            UINT DstX, UINT DstY, UINT DstZ,
                                                            ID3D11Resource* SrcResource, UINT SrcSubresource,
                                                            const D3D11_BOX* SrcBox)
{
    Lock Guard(m_State->m_Lock);
    if (DstSubresource != 0 || SrcSubresource != 0 || DstZ != 0 || DstResource == SrcResource)
        return;
    if (Texture2D* Destination = AsTexture(DstResource))
    {
        Texture2D* Source = AsTexture(SrcResource);
        if (!Source || Source->Desc().Format != Destination->Desc().Format)
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
        CopyTextureRegion(*Destination, DstX, DstY, *Source, Box);
    }
    else if (Buffer* Target = AsBuffer(DstResource))
    {
        Buffer* Source = AsBuffer(SrcResource);
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
    if (Texture2D* Destination = AsTexture(DstResource))
    {
        Texture2D* Source = AsTexture(SrcResource);
        if (!Source || Source->Desc().Format != Destination->Desc().Format ||
            Source->Desc().Width != Destination->Desc().Width || Source->Desc().Height != Destination->Desc().Height ||
            Destination->Desc().Usage == D3D11_USAGE_IMMUTABLE)
            return;
        CopyTextureRegion(*Destination, 0, 0, *Source, {0, 0, 0, Source->Desc().Width, Source->Desc().Height, 1});
    }
    else if (Buffer* Target = AsBuffer(DstResource))
    {
        Buffer* Source = AsBuffer(SrcResource);
        if (!Source || Source->Desc().ByteWidth != Target->Desc().ByteWidth ||
            Target->Desc().Usage == D3D11_USAGE_IMMUTABLE)
            return;
        CopyBufferRegion(*Target, 0, *Source, 0, Source->Desc().ByteWidth);
    }
}

STDMETHODIMP_(void) ImmediateContext::UpdateSubresource(ID3D11Resource* DstResource, UINT DstSubresource,
                                                        const D3D11_BOX* DstBox, const void* SrcData, UINT SrcRowPitch,
                                                        UINT)
{
    Lock Guard(m_State->m_Lock);
    if (!SrcData || DstSubresource != 0)
        return;
    if (Buffer* Target = AsBuffer(DstResource))
    {
        if (Target->Desc().Usage != D3D11_USAGE_DEFAULT)
            return;
        const UINT Left = DstBox ? DstBox->left : 0, Right = DstBox ? DstBox->right : Target->Desc().ByteWidth;
        if (Left >= Right || Right > Target->Desc().ByteWidth)
            return;
        const UINT Size = Right - Left;
        const VkCommandBuffer Commands = m_State->BeginOperation();
        if (!Commands)
            return;
        // Small updates travel inside the command buffer itself.
        if (Size <= 65536 && Left % 4 == 0 && Size % 4 == 0)
            vkCmdUpdateBuffer(Commands, Target->m_Buffer->Handle(), Left, Size, SrcData);
        else
        {
            std::shared_ptr<Vulkan::Buffer> Upload;
            if (FAILED(Vulkan::Buffer::Create(m_State->Vulkan(), Size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                                              Vulkan::Buffer::Access::HostWrite, Upload)))
                return;
            std::memcpy(Upload->Mapped(), SrcData, Size);
            Upload->FlushHostRange();
            const VkBufferCopy Region = {0, Left, Size};
            vkCmdCopyBuffer(Commands, Upload->Handle(), Target->m_Buffer->Handle(), 1, &Region);
            m_State->Use(Upload);
        }
        m_State->Use(Target->m_Buffer);
        m_State->OperationDone();
    }
    else if (Texture2D* Texture = AsTexture(DstResource))
    {
        if (Texture->Desc().Usage != D3D11_USAGE_DEFAULT || Texture->Format().m_Planes != 1 || !Texture->m_Image)
            return;
        const D3D11_BOX Whole = {0, 0, 0, Texture->Desc().Width, Texture->Desc().Height, 1};
        const D3D11_BOX Box = DstBox ? *DstBox : Whole;
        if (Box.left >= Box.right || Box.top >= Box.bottom || Box.right > Whole.right || Box.bottom > Whole.bottom ||
            (Texture->Format().m_EvenSize && ((Box.left | Box.right) & 1)))
            return;
        const uint32_t Width = Box.right - Box.left, Height = Box.bottom - Box.top;
        const uint32_t TexelBytes = Texture->Format().m_TexelBytes;
        const size_t RowBytes = size_t(Width) * TexelBytes;
        const size_t Pitch = SrcRowPitch ? SrcRowPitch : RowBytes;
        std::shared_ptr<Vulkan::Buffer> Upload;
        if (FAILED(Vulkan::Buffer::Create(m_State->Vulkan(), RowBytes * Height, VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                                          Vulkan::Buffer::Access::HostWrite, Upload)))
            return;
        for (uint32_t Row = 0; Row < Height; ++Row)
            std::memcpy(Upload->Mapped() + Row * RowBytes, static_cast<const uint8_t*>(SrcData) + Row * Pitch,
                        RowBytes);
        Upload->FlushHostRange();
        const VkCommandBuffer Commands = m_State->BeginOperation();
        if (!Commands)
            return;
        m_State->ResolveClear(Commands, *Texture->m_Image);
        VkBufferImageCopy Region = {};
        Region.bufferRowLength = Width;
        Region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        Region.imageOffset = {int32_t(Box.left), int32_t(Box.top), 0};
        Region.imageExtent = {Width, Height, 1};
        vkCmdCopyBufferToImage(Commands, Upload->Handle(), Texture->m_Image->Handle(), VK_IMAGE_LAYOUT_GENERAL, 1,
                               &Region);
        m_State->Use(Upload);
        m_State->Use(Texture->m_Image);
        m_State->OperationDone();
    }
}

STDMETHODIMP_(void) ImmediateContext::ClearRenderTargetView(ID3D11RenderTargetView* Target,
                                                            const FLOAT ColorRGBA[4])
{
    Lock Guard(m_State->m_Lock);
    RenderTargetView* View = Cast<RenderTargetView>(Target);
    if (!View || !ColorRGBA || View->State() != m_State)
        return;
    // Earlier draws into the target must finish before the clear.
    for (const std::shared_ptr<Vulkan::ImageView>& Open : m_State->m_PassTargets)
        if (Open->Target() == View->m_View->Target())
            m_State->EndRenderPass();
    // The clear waits for the target's next use: a draw clears as it loads,
    // anything else records it first.
    VkClearColorValue Color;
    std::memcpy(Color.float32, ColorRGBA, sizeof(Color.float32));
    View->m_View->Target()->m_PendingClear = Color;
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
}

STDMETHODIMP_(void) ImmediateContext::Flush()
{
    Lock Guard(m_State->m_Lock);
    m_State->SubmitUpTo(m_State->m_Stream.CurrentValue(), false);
}

} // namespace Platform::D3D11
