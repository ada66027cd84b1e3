// What the default output plays, recorded through WASAPI's loopback capture: the default render
// endpoint (eRender, eConsole) opened in shared mode with AUDCLNT_STREAMFLAGS_LOOPBACK, its mix
// format turned into the engine's mono kSampleRate samples (MixConverter).
//
// A loopback stream delivers nothing while nothing plays: that is silence, not a lost device.
//
// Threads: the recording thread only, which has COM initialised (multithreaded). Open() allocates;
// TakeFilled() does not.
#pragma once

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <string>

#include "engine/capture/windows/mix_converter.h"

namespace glimmerix {

// The default render endpoint's id ("" when there is none); devices may be null (then "").
std::wstring DefaultRenderEndpointId(IMMDeviceEnumerator* devices);

class LoopbackStream {
 public:
  LoopbackStream() = default;
  ~LoopbackStream() { Close(); }
  LoopbackStream(const LoopbackStream&) = delete;
  LoopbackStream& operator=(const LoopbackStream&) = delete;

  // Opens and starts loopback capture of the default render endpoint; ready (an auto-reset event)
  // is set when packets wait, where the system supports that (poll TakeFilled anyway). False on
  // failure, with failed_step() and failure() saying where and what the system answered.
  bool Open(IMMDeviceEnumerator* devices, HANDLE ready);
  void Close();
  bool running() const { return capture_ != nullptr; }
  // The endpoint recorded, as DefaultRenderEndpointId() tells it, and its name shown to people.
  const std::wstring& endpoint_id() const { return endpoint_id_; }
  const std::string& endpoint_name() const { return endpoint_name_; }
  const char* failed_step() const { return failed_step_; }
  HRESULT failure() const { return failure_; }

  // Delivers every packet waiting, converted; false when the endpoint is gone (the stream is
  // then useless and to be closed).
  template <class Deliver>
  bool TakeFilled(Deliver&& deliver) {
    for (;;) {
      UINT32 waiting = 0;
      HRESULT result = capture_->GetNextPacketSize(&waiting);
      if (FAILED(result)) return false;
      if (waiting == 0) return true;
      BYTE* data = nullptr;
      UINT32 frames = 0;
      DWORD flags = 0;
      result = capture_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
      if (FAILED(result)) return false;
      if (result == AUDCLNT_S_BUFFER_EMPTY) return true;
      converter_.Convert(data, frames, (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0, deliver);
      if (FAILED(capture_->ReleaseBuffer(frames))) return false;
    }
  }

 private:
  bool Fail(const char* step, HRESULT result);

  IAudioClient* client_ = nullptr;
  IAudioCaptureClient* capture_ = nullptr;
  MixConverter converter_;
  std::wstring endpoint_id_;
  std::string endpoint_name_;
  const char* failed_step_ = "";
  HRESULT failure_ = S_OK;
};

}  // namespace glimmerix
