// The device that renders the frames a sink writer takes, as the writer needs
// to know it: which adapter it is (for the encoder that sits on it) and
// where its textures are best converted to the encoder's picture.
#pragma once

#include <wrl/client.h>
#include "Ffmpeg/FfmpegHardware.h"
#include <ostrel/sinkwriter.h>
#include <mfobjects.h>

struct ID3D11Device;
struct IMFDXGIDeviceManager;

namespace Platform {

// The device that Manager hands out, or null (no manager, or none set).
Microsoft::WRL::ComPtr<ID3D11Device> ManagedDevice(IMFDXGIDeviceManager* Manager);

// Device's adapter for the encoder; Kind::Unknown for no device (or one that
// this platform did not make).
FfmpegAdapter DescribeAdapter(ID3D11Device* Device);

// Whether B8G8R8A8 textures of Device are converted on it, given what the
// writer was asked: always on a hardware adapter unless asked otherwise; on a
// software adapter the measured default; never without a device.
bool ConvertsOnDevice(const FfmpegAdapter& Adapter, SinkWriterConversion Asked);

} // namespace Platform
