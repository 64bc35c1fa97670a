// Attributes of MFCreateSinkWriterFromURL that only this platform knows, for
// tests and benchmarks that compare the writer's ways of working.
#pragma once

#include <guiddef.h>

// Where the writer turns B8G8R8A8 textures into the encoder's 4:2:0 picture
// (UINT32, a SinkWriterConversion).
constexpr GUID OSTREL_SINK_WRITER_CONVERSION = {0x5d0c6d5e, 0x3f41, 0x4a7e, {0x9b, 0x2c, 0x61, 0x0e, 0x8a, 0x7f, 0x42, 0x19}};

enum SinkWriterConversion : unsigned
{
    // On the device for a hardware adapter; for a software adapter, the way
    // that measured faster (RenderingDevice.cpp).
    SinkWriterConversionDefault = 0,
    // The texture read back as it is and converted on the host.
    SinkWriterConversionHost = 1,
    // A compute pass on the device; only the NV12 planes are read back.
    SinkWriterConversionDevice = 2,
};
