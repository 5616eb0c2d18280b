#include "service/ppocr/fast_layers.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/dnn/layer.details.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quillore::ppocr {
namespace {

using cv::dnn::Layer;
using cv::dnn::LayerParams;
using cv::dnn::MatShape;

// y = x * clamp(x + shift, 0, 6) * scale + offset: a hard-swish with the divide by six and the affine
// steps after it folded in.
struct HardSwishParams {
  float shift = 3, scale = 1.0f / 6, offset = 0;
};

// --- kernels ---------------------------------------------------------------------------------------
// Each is compiled twice: for any x86-64, and for AVX2 with FMA, which the loops below use twice as
// well. Pick() chooses once, by what the processor has.

[[gnu::always_inline]] inline void HardSwishBody(const float* src, float* dst, std::ptrdiff_t count,
                                                 HardSwishParams p) {
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const float x = src[i];
    dst[i] = x * std::min(std::max(x + p.shift, 0.0f), 6.0f) * p.scale + p.offset;
  }
}

[[gnu::always_inline]] inline void ScaleBody(const float* src, float* dst, std::ptrdiff_t count,
                                             float scale) {
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    dst[i] = src[i] * scale;
  }
}

// One output row of a 5x5 depthwise convolution. `top` is the first of the five input rows (of a
// plane padded by two on every side), `rowStep` the distance between rows.
[[gnu::always_inline]] inline void DepthwiseRowBody(const float* top, std::ptrdiff_t rowStep, const float* w,
                                                    float bias, int strideX, float* out, int outWidth) {
  if (strideX == 1) {
    for (int x = 0; x < outWidth; ++x) {
      float sum = bias;
      for (int ky = 0; ky < 5; ++ky) {
        const float* r = top + ky * rowStep + x;
        const float* k = w + 5 * ky;
        sum += k[0] * r[0] + k[1] * r[1] + k[2] * r[2] + k[3] * r[3] + k[4] * r[4];
      }
      out[x] = sum;
    }
    return;
  }
  for (int x = 0; x < outWidth; ++x) {
    float sum = bias;
    for (int ky = 0; ky < 5; ++ky) {
      const float* r = top + ky * rowStep + static_cast<std::ptrdiff_t>(x) * strideX;
      const float* k = w + 5 * ky;
      sum += k[0] * r[0] + k[1] * r[1] + k[2] * r[2] + k[3] * r[3] + k[4] * r[4];
    }
    out[x] = sum;
  }
}

#define QUILLORE_KERNEL_VARIANTS(name, params, args)                                                         \
  void name##Plain params {                                                                                  \
    name##Body args;                                                                                         \
  }                                                                                                          \
  __attribute__((target("avx2,fma"))) void name##Avx2 params {                                               \
    name##Body args;                                                                                         \
  }

QUILLORE_KERNEL_VARIANTS(HardSwish, (const float* src, float* dst, std::ptrdiff_t count, HardSwishParams p),
                         (src, dst, count, p))
QUILLORE_KERNEL_VARIANTS(Scale, (const float* src, float* dst, std::ptrdiff_t count, float scale),
                         (src, dst, count, scale))
QUILLORE_KERNEL_VARIANTS(DepthwiseRow,
                         (const float* top, std::ptrdiff_t rowStep, const float* w, float bias, int strideX,
                          float* out, int outWidth),
                         (top, rowStep, w, bias, strideX, out, outWidth))
#undef QUILLORE_KERNEL_VARIANTS

template <typename F> F Pick(F plain, F avx2) {
  static const bool hasAvx2 = cv::checkHardwareSupport(CV_CPU_AVX2) && cv::checkHardwareSupport(CV_CPU_FMA3);
  return hasAvx2 ? avx2 : plain;
}

// --- layers ----------------------------------------------------------------------------------------

// Runs body(begin, end) over the planes (image and channel) of a blob, on OpenCV's threads where there
// is enough work; inside a thread that is itself one of OpenCV's, it runs in one piece.
template <typename Body> void ForPlanes(int planes, double workPerPlane, const Body& body) {
  const double stripes =
      std::clamp(planes * workPerPlane / 65536, 1.0, static_cast<double>(std::max(planes, 1)));
  cv::parallel_for_(
      cv::Range(0, planes), [&](const cv::Range& r) { body(r.start, r.end); }, stripes);
}

// What the layers share: float input blobs, laid out without gaps, and one output.
class OwnLayer : public Layer {
public:
  using Layer::Layer;

  void forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
               cv::OutputArrayOfArrays) final {
    std::vector<cv::Mat> inputs, outputs;
    inputsArr.getMatVector(inputs);
    outputsArr.getMatVector(outputs);
    CV_Assert(!inputs.empty() && outputs.size() == 1);
    for (const auto& input : inputs) {
      CV_Assert(input.type() == CV_32F && input.isContinuous());
    }
    Run(inputs, outputs[0]);
  }

protected:
  virtual void Run(const std::vector<cv::Mat>& inputs, cv::Mat& out) const = 0;
};

HardSwishParams ReadHardSwish(const LayerParams& params, const std::string& prefix) {
  HardSwishParams p;
  p.shift = params.get<float>(prefix + "shift", p.shift);
  p.scale = params.get<float>(prefix + "scale", p.scale);
  p.offset = params.get<float>(prefix + "offset", p.offset);
  return p;
}

class HardSwishLayer : public OwnLayer {
public:
  explicit HardSwishLayer(const LayerParams& params) : OwnLayer(params), act_(ReadHardSwish(params, "")) {}
  static cv::Ptr<Layer> create(LayerParams& params) { return cv::makePtr<HardSwishLayer>(params); }

  bool getMemoryShapes(const std::vector<MatShape>& inputs, int, std::vector<MatShape>& outputs,
                       std::vector<MatShape>&) const override {
    CV_Assert(inputs.size() == 1);
    outputs.assign(1, inputs[0]);
    return true; // element by element: may write over its input
  }

private:
  void Run(const std::vector<cv::Mat>& inputs, cv::Mat& out) const override {
    const cv::Mat& in = inputs[0];
    CV_Assert(out.total() == in.total());
    const int planes = in.dims > 1 ? in.size[0] * in.size[1] : 1;
    const std::ptrdiff_t planeSize = static_cast<std::ptrdiff_t>(in.total()) / std::max(planes, 1);
    const auto kernel = Pick(HardSwishPlain, HardSwishAvx2);
    ForPlanes(planes, static_cast<double>(planeSize), [&](int begin, int end) {
      kernel(in.ptr<float>() + begin * planeSize, out.ptr<float>() + begin * planeSize,
             (end - begin) * planeSize, act_);
    });
  }

  HardSwishParams act_;
};

// x [N, C, H, W] times s [N, C, 1, 1]: the scaling step of a squeeze-and-excitation block.
class ChannelScaleLayer : public OwnLayer {
public:
  explicit ChannelScaleLayer(const LayerParams& params) : OwnLayer(params) {}
  static cv::Ptr<Layer> create(LayerParams& params) { return cv::makePtr<ChannelScaleLayer>(params); }

  bool getMemoryShapes(const std::vector<MatShape>& inputs, int, std::vector<MatShape>& outputs,
                       std::vector<MatShape>&) const override {
    // The importer may ask with a placeholder batch size; forward() checks the real sizes.
    CV_Assert(inputs.size() == 2 && inputs[0].size() == 4 && inputs[1].size() == 4);
    outputs.assign(1, inputs[0]);
    return false;
  }

private:
  void Run(const std::vector<cv::Mat>& inputs, cv::Mat& out) const override {
    const cv::Mat& in = inputs[0];
    const int planes = in.size[0] * in.size[1];
    CV_Assert(inputs.size() == 2 && static_cast<int>(inputs[1].total()) == planes);
    const float* scales = inputs[1].ptr<float>();
    const std::ptrdiff_t planeSize = static_cast<std::ptrdiff_t>(in.size[2]) * in.size[3];
    const auto kernel = Pick(ScalePlain, ScaleAvx2);
    ForPlanes(planes, static_cast<double>(planeSize), [&](int begin, int end) {
      for (int p = begin; p < end; ++p) {
        kernel(in.ptr<float>() + p * planeSize, out.ptr<float>() + p * planeSize, planeSize, scales[p]);
      }
    });
  }
};

// A 5x5 depthwise convolution with padding 2 and a bias, strides of any size, and an optional hard-swish
// after it ("act_" attributes).
class Depthwise5x5Layer : public OwnLayer {
public:
  explicit Depthwise5x5Layer(const LayerParams& params) : OwnLayer(params) {
    CV_Assert(blobs.size() == 2 && blobs[0].dims == 4 && blobs[0].size[1] == 1 && blobs[0].size[2] == 5 &&
              blobs[0].size[3] == 5 && static_cast<int>(blobs[1].total()) == blobs[0].size[0]);
    blobs[0].convertTo(blobs[0], CV_32F);
    blobs[1].convertTo(blobs[1], CV_32F);
    // OpenCV's importer hands the ONNX "strides" on as "stride".
    if (params.has("stride")) {
      const cv::dnn::DictValue& s = params.get("stride");
      CV_Assert(s.size() == 2);
      strideY_ = s.get<int>(0);
      strideX_ = s.get<int>(1);
    }
    CV_Assert(strideY_ >= 1 && strideX_ >= 1);
    if (params.has("act_shift")) {
      act_ = ReadHardSwish(params, "act_");
    }
  }
  static cv::Ptr<Layer> create(LayerParams& params) { return cv::makePtr<Depthwise5x5Layer>(params); }

  bool getMemoryShapes(const std::vector<MatShape>& inputs, int, std::vector<MatShape>& outputs,
                       std::vector<MatShape>&) const override {
    CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == blobs[0].size[0]);
    MatShape shape = inputs[0];
    // Sizes the importer does not know yet come as 0, and stay so.
    if (shape[2] > 0) {
      shape[2] = (shape[2] - 1) / strideY_ + 1;
    }
    if (shape[3] > 0) {
      shape[3] = (shape[3] - 1) / strideX_ + 1;
    }
    outputs.assign(1, shape);
    return false;
  }

private:
  void Run(const std::vector<cv::Mat>& inputs, cv::Mat& out) const override {
    const cv::Mat& in = inputs[0];
    const int channels = in.size[1], height = in.size[2], width = in.size[3];
    const int outHeight = out.size[2], outWidth = out.size[3];
    const std::ptrdiff_t paddedWidth = width + 4;
    const auto row = Pick(DepthwiseRowPlain, DepthwiseRowAvx2);
    const auto activation = Pick(HardSwishPlain, HardSwishAvx2);
    ForPlanes(in.size[0] * channels, 25.0 * outHeight * outWidth, [&](int begin, int end) {
      // A plane at a time, copied inside a border of two zeros so that every tap reads inside it.
      std::vector<float> padded(static_cast<std::size_t>(height + 4) * paddedWidth, 0.0f);
      for (int p = begin; p < end; ++p) {
        const int c = p % channels;
        const float* src = in.ptr<float>() + static_cast<std::ptrdiff_t>(p) * height * width;
        for (int y = 0; y < height; ++y) {
          std::copy(src + y * static_cast<std::ptrdiff_t>(width),
                    src + (y + 1) * static_cast<std::ptrdiff_t>(width),
                    padded.begin() + (y + 2) * paddedWidth + 2);
        }
        float* dst = out.ptr<float>() + static_cast<std::ptrdiff_t>(p) * outHeight * outWidth;
        const float* w = blobs[0].ptr<float>() + 25 * c;
        const float bias = blobs[1].ptr<float>()[c];
        for (int y = 0; y < outHeight; ++y) {
          float* o = dst + static_cast<std::ptrdiff_t>(y) * outWidth;
          row(padded.data() + static_cast<std::ptrdiff_t>(y) * strideY_ * paddedWidth, paddedWidth, w, bias,
              strideX_, o, outWidth);
          if (act_) {
            activation(o, o, outWidth, *act_);
          }
        }
      }
    });
  }

  std::optional<HardSwishParams> act_;
  int strideY_ = 1, strideX_ = 1;
};

} // namespace

void RegisterFastLayers() {
  static std::once_flag once;
  std::call_once(once, [] {
    cv::dnn::LayerFactory::registerLayer(kHardSwishType, HardSwishLayer::create);
    cv::dnn::LayerFactory::registerLayer(kChannelScaleType, ChannelScaleLayer::create);
    cv::dnn::LayerFactory::registerLayer(kDepthwise5x5Type, Depthwise5x5Layer::create);
  });
}

} // namespace quillore::ppocr
