// Reading textures back into host memory, for the platform's own consumers
// (media buffers that lock a texture, the encoder that takes frames from the
// device). Not a Direct3D interface.
//
// Begin records the copy (or the conversion) and submits it under the
// device's lock; Finish waits for it without the lock, so that the thread
// that renders goes on meanwhile. Any thread may read; one object serves one
// reader at a time and keeps its memory from read to read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <d3d11.h>

namespace Platform::Vulkan {
class Buffer;
class Image;
} // namespace Platform::Vulkan

namespace Platform::D3D11 {

class DeviceState;
class Texture2D;

// One plane of a texture in host memory: where its rows start and how far
// apart they lie. Planes follow each other with the same row pitch, as
// Direct3D lays out NV12.
struct PlaneLayout
{
    uint32_t m_Width; // in texels of the plane
    uint32_t m_Height;
    uint32_t m_TexelBytes;
    uint64_t m_Offset;
    uint32_t m_RowPitch;
};

// How a staging copy of Texture lies in host memory; empty for a texture
// that this platform did not make.
std::vector<PlaneLayout> HostLayoutOf(ID3D11Texture2D* Texture);

class TextureReadback
{
public:
    // What arrives on the host: the texture's own pixels, or the NV12 planes
    // that the device converts them to (BT.709, limited range). InPlace: the
    // texture's own pixels where they lie, copied nowhere; the texture must
    // not be written again until the reader is done with them.
    enum class Output
    {
        Native,
        Nv12,
        InPlace,
    };

    TextureReadback();
    ~TextureReadback();
    TextureReadback(const TextureReadback&) = delete;
    TextureReadback& operator=(const TextureReadback&) = delete;

    // Whether the device can convert Texture to Output::Nv12: 8-bit RGB of
    // an even size.
    static bool Converts(ID3D11Texture2D* Texture);
    // Whether the host can read Texture where it lies (Output::InPlace): a
    // texture of a device whose memory is the host's.
    static bool ReadsInPlace(ID3D11Texture2D* Texture);

    // Reads the whole of Texture (default, immutable or dynamic usage) and
    // waits for it. E_INVALIDARG for staging textures, and for a conversion
    // of a texture that Converts refuses.
    HRESULT Read(ID3D11Texture2D* Texture, Output Format = Output::Native);

    // Read in two steps: Begin records and submits the copy behind the work
    // already recorded on the device; Finish waits for it. Between the two
    // the texture may be written again, the copy keeps what it had.
    HRESULT Begin(ID3D11Texture2D* Texture, Output Format = Output::Native);
    HRESULT Finish();

    // After a successful Read, until the next one: the pixels, plane after
    // plane as Layout says (NV12: the chroma plane after the luma plane).
    const uint8_t* Data() const;
    const std::vector<PlaneLayout>& Layout() const { return m_Layout; }
    // The bytes that the last read brought from the device.
    uint64_t BytesRead() const { return m_BytesRead; }

private:
    HRESULT PrepareBuffer(const std::shared_ptr<DeviceState>& State, uint64_t Size);
    HRESULT BeginInPlace(Texture2D& Source);

    std::shared_ptr<DeviceState> m_State;
    std::shared_ptr<Vulkan::Buffer> m_Buffer;
    std::shared_ptr<Vulkan::Image> m_InPlace; // read where it lies, until the next read
    std::vector<PlaneLayout> m_Layout;
    uint64_t m_Pending = 0; // the copy's submission, until Finish
    uint64_t m_BytesRead = 0;
};

} // namespace Platform::D3D11
