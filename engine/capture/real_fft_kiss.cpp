#include <kissfft/kiss_fftr.h>

#include <new>

#include "engine/capture/real_fft.h"
#include "engine/capture/spectrum_analyzer.h"

namespace glimmerix {

static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float), "float KissFFT expected");

struct RealFft::State {
  kiss_fftr_cfg cfg = nullptr;
  ~State() { kiss_fftr_free(cfg); }
};

RealFft::RealFft() : state_(std::make_unique<State>()) {
  state_->cfg = kiss_fftr_alloc(kFftSize, 0, nullptr, nullptr);
  if (!state_->cfg) throw std::bad_alloc();
}

RealFft::~RealFft() = default;

void RealFft::Forward(const float* in, float* out) {
  kiss_fftr(state_->cfg, in, reinterpret_cast<kiss_fft_cpx*>(out));
}

}  // namespace glimmerix
