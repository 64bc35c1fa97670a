// Reading textures back into host memory, for the platform's own consumers
// (media buffers that lock a texture, the encoder that takes frames from the
// device). Not a Direct3D interface.
//
// Read records the copy and submits it under the device's lock, then waits
// for it without the lock, so that the thread that renders goes on meanwhile.
// Any thread may read; one object serves one reader at a time and keeps its
// memory from read to read.
#pragma once

#include <memory>
#include <vector>

#include "Formats.h"
#include "d3d11.h"

namespace Platform::Vulkan {
class Buffer;
}

namespace Platform::D3D11 {

class DeviceState;

class TextureReadback
{
public:
    TextureReadback();
    ~TextureReadback();
    TextureReadback(const TextureReadback&) = delete;
    TextureReadback& operator=(const TextureReadback&) = delete;

    // Copies the whole of Texture (default, immutable or dynamic usage) and
    // waits for the copy. E_INVALIDARG for staging textures.
    HRESULT Read(ID3D11Texture2D* Texture);

    // Read in two steps: Begin records and submits the copy behind the work
    // already recorded on the device; Finish waits for it. Between the two
    // the texture may be written again, the copy keeps what it had.
    HRESULT Begin(ID3D11Texture2D* Texture);
    HRESULT Finish();

    // After a successful Read, until the next one: the pixels, plane after
    // plane as Layout says (NV12: the chroma plane after the luma plane).
    const uint8_t* Data() const;
    const std::vector<PlaneLayout>& Layout() const { return m_Layout; }

private:
    std::shared_ptr<DeviceState> m_State;
    std::shared_ptr<Vulkan::Buffer> m_Buffer;
    std::vector<PlaneLayout> m_Layout;
    uint64_t m_Pending = 0; // the copy's submission, until Finish
};

} // namespace Platform::D3D11
