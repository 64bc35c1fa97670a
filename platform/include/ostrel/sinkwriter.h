// What this platform's sink writer offers beside the system's, as the
// platform and the tool both name it: an attribute of
// MFCreateSinkWriterFromURL for tests and benchmarks that compare the
// writer's ways of working, and a service of GetServiceForStream that tells
// where the writer's time went. Where a writer does not offer the service,
// the run's figures leave the writer's stages out.
#pragma once

#include <guiddef.h>

// Where the writer turns B8G8R8A8 textures into the encoder's 4:2:0 picture
// (UINT32, a SinkWriterConversion). A texture that the host can read where it
// lies (a device whose memory is the host's) is read so, unless asked
// otherwise.
constexpr GUID OSTREL_SINK_WRITER_CONVERSION = {
    0x5d0c6d5e, 0x3f41, 0x4a7e, {0x9b, 0x2c, 0x61, 0x0e, 0x8a, 0x7f, 0x42, 0x19}};

// Whether the encoder measures its error against the frames it is given
// (UINT32, nonzero for yes; libx264 only): PSNR and SSIM under the timing
// service's keys below. Off by default, since it costs the encoder work.
constexpr GUID OSTREL_SINK_WRITER_MEASURE_QUALITY = {
    0x5d0c6d5f, 0x3f41, 0x4a7e, {0x9b, 0x2c, 0x61, 0x0e, 0x8a, 0x7f, 0x42, 0x19}};

enum SinkWriterConversion : unsigned
{
    // On the device for a hardware adapter; for a software adapter, the way
    // that measured faster (RenderingDevice.cpp).
    SinkWriterConversionDefault = 0,
    // The texture read back as it is and converted on the host.
    SinkWriterConversionHost = 1,
    // A compute pass on the device; only the NV12 planes are read back.
    SinkWriterConversionDevice = 2,
    // On the host, the texture read back as it is even where the host could
    // read it where it lies.
    SinkWriterConversionHostReadback = 3,
};

// GetServiceForStream(0, OSTREL_SINK_WRITER_TIMINGS, IID_IMFAttributes, ...)
// answers a new attribute store, a snapshot of the stream's figures so far:
// the encoder's description (string, e.g. "libx264 superfast"), the frames
// it was handed (UINT64), the time in 100-ns units (UINT64) that the device
// that renders was busy since writing began (drawing, copying, reading
// back, converting), and the writer's time spent waiting for frames' pixels
// from the device, converting them, encoding and muxing; how the frames
// reached the encoder (string: "in-place", "cuda", "readback-nv12" or
// "readback-bgra") and the bytes copied on the way, from device memory to the
// host or within host memory, for all frames so far (UINT64); each muxed
// frame's latency, from WriteSample to its packet being muxed, in 100-ns
// units in the order muxed (a blob of UINT64); and where the encoder
// measures its error, the PSNR of the luma and of all three planes together
// against the encoder's input, in dB, and the mean of the frames' luma SSIM
// (doubles). The system's Sink Writer offers no such service.
constexpr GUID OSTREL_SINK_WRITER_TIMINGS = {
    0x1f6a3c1e, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_ENCODER = {
    0x1f6a3c1f, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_FRAMES = {
    0x1f6a3c20, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_READBACK_TIME = {
    0x1f6a3c21, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_CONVERT_TIME = {
    0x1f6a3c22, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_ENCODE_TIME = {
    0x1f6a3c23, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_MUX_TIME = {
    0x1f6a3c24, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_DEVICE_TIME = {
    0x1f6a3c25, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_FRAME_PATH = {
    0x1f6a3c26, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_BYTES_COPIED = {
    0x1f6a3c27, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_LATENCIES = {
    0x1f6a3c28, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_PSNR_Y = {
    0x1f6a3c29, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_PSNR_AVERAGE = {
    0x1f6a3c2a, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
constexpr GUID OSTREL_SINK_WRITER_SSIM = {0x1f6a3c2b, 0x8d27, 0x4b9e, {0xa3, 0x51, 0x7c, 0x0b, 0x52, 0x9e, 0x14, 0x60}};
