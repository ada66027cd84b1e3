#include "engine/capture/windows/loopback_stream.h"

#include <ks.h>
#include <ksmedia.h>

#include "engine/capture/windows/device_names.h"

namespace glimmerix {
namespace {

constexpr GUID kFloatSubtype = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kPcmSubtype = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr REFERENCE_TIME kBufferDuration = 2000000;  // 200 ms, in 100 ns

// The sample encoding of a mix format, if the converter reads it.
bool EncodingOf(const WAVEFORMATEX& format, SampleEncoding& encoding) {
  WORD tag = format.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= 22) {
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    if (IsEqualGUID(extensible.SubFormat, kFloatSubtype)) {
      tag = WAVE_FORMAT_IEEE_FLOAT;
    } else if (IsEqualGUID(extensible.SubFormat, kPcmSubtype)) {
      tag = WAVE_FORMAT_PCM;
    } else {
      return false;
    }
  }
  if (tag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32) {
    encoding = SampleEncoding::kFloat32;
  } else if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16) {
    encoding = SampleEncoding::kInt16;
  } else if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 24) {
    encoding = SampleEncoding::kInt24;
  } else if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 32) {
    encoding = SampleEncoding::kInt32;
  } else {
    return false;
  }
  // Interleaved frames of whole samples, nothing else.
  return format.nBlockAlign == format.nChannels * (format.wBitsPerSample / 8);
}

}  // namespace

std::wstring DefaultRenderEndpointId(IMMDeviceEnumerator* devices) {
  std::wstring id;
  IMMDevice* device = nullptr;
  if (!devices || FAILED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device))) return id;
  LPWSTR text = nullptr;
  if (SUCCEEDED(device->GetId(&text)) && text) {
    id = text;
    CoTaskMemFree(text);
  }
  device->Release();
  return id;
}

bool LoopbackStream::Fail(const char* step, HRESULT result) {
  failed_step_ = step;
  failure_ = result;
  Close();
  return false;
}

bool LoopbackStream::Open(IMMDeviceEnumerator* devices, HANDLE ready) {
  Close();
  failed_step_ = "";
  failure_ = S_OK;
  if (!devices) return Fail("creating the device enumerator", E_POINTER);
  IMMDevice* device = nullptr;
  HRESULT result = devices->GetDefaultAudioEndpoint(eRender, eConsole, &device);
  if (FAILED(result)) return Fail("finding the default output", result);
  LPWSTR id = nullptr;
  if (SUCCEEDED(device->GetId(&id)) && id) {
    endpoint_id_ = id;
    CoTaskMemFree(id);
  }
  endpoint_name_ = EndpointName(device);
  result = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                            reinterpret_cast<void**>(&client_));
  device->Release();
  if (FAILED(result)) return Fail("activating the output's audio client", result);
  WAVEFORMATEX* format = nullptr;
  result = client_->GetMixFormat(&format);
  if (FAILED(result)) return Fail("asking for the mix format", result);
  SampleEncoding encoding;
  const bool readable = EncodingOf(*format, encoding);
  const int channels = format->nChannels;
  const int rate = static_cast<int>(format->nSamplesPerSec);
  if (readable) {
    result = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                 AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                 kBufferDuration, 0, format, nullptr);
    if (SUCCEEDED(result)) {
      client_->SetEventHandle(ready);
    } else {
      // Systems that do not signal loopback streams refuse the event: polled then.
      client_->Release();
      client_ = nullptr;
      IMMDevice* again = nullptr;
      result = devices->GetDefaultAudioEndpoint(eRender, eConsole, &again);
      if (SUCCEEDED(result)) {
        result = again->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                 reinterpret_cast<void**>(&client_));
        again->Release();
      }
      if (SUCCEEDED(result))
        result = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                     kBufferDuration, 0, format, nullptr);
    }
  }
  CoTaskMemFree(format);
  if (!readable) return Fail("reading the mix format", AUDCLNT_E_UNSUPPORTED_FORMAT);
  if (FAILED(result)) return Fail("initialising loopback capture", result);
  UINT32 buffer_frames = 0;
  result = client_->GetBufferSize(&buffer_frames);
  if (FAILED(result)) return Fail("asking for the buffer size", result);
  result = client_->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&capture_));
  if (FAILED(result)) return Fail("getting the capture client", result);
  if (!converter_.Configure(encoding, channels, rate, buffer_frames))
    return Fail("reading the mix format", AUDCLNT_E_UNSUPPORTED_FORMAT);
  result = client_->Start();
  if (FAILED(result)) return Fail("starting the stream", result);
  return true;
}

void LoopbackStream::Close() {
  if (client_) client_->Stop();
  if (capture_) capture_->Release();
  capture_ = nullptr;
  if (client_) client_->Release();
  client_ = nullptr;
}

}  // namespace glimmerix
