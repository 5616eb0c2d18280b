// The engine's own network layers, run inside OpenCV networks as the converted models use them and
// compared with the same steps done by OpenCV's image functions.
#include "service/ppocr/fast_layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace quillore::ppocr {
namespace {

cv::Mat RandomBlob(std::vector<int> shape, float low, float high, int seed) {
  cv::Mat blob(static_cast<int>(shape.size()), shape.data(), CV_32F);
  cv::RNG rng(static_cast<std::uint64_t>(seed));
  rng.fill(blob, cv::RNG::UNIFORM, low, high);
  return blob;
}

// A network of one layer of `type` on one input.
cv::Mat RunOneLayer(const std::string& type, cv::dnn::LayerParams params, const cv::Mat& input) {
  RegisterFastLayers();
  params.name = "layer";
  params.type = type;
  cv::dnn::Net net;
  net.addLayerToPrev(params.name, type, params);
  net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  net.setInput(input);
  return net.forward().clone();
}

float HardSwish(float x, float shift, float scale, float offset) {
  return x * std::clamp(x + shift, 0.0f, 6.0f) * scale + offset;
}

// The largest difference relative to the reference's magnitude (at least 1).
double Difference(const cv::Mat& actual, const cv::Mat& expected) {
  EXPECT_EQ(actual.total(), expected.total());
  if (actual.total() != expected.total()) {
    return 1e9;
  }
  double worst = 0;
  const float* a = actual.ptr<float>();
  const float* e = expected.ptr<float>();
  for (std::size_t i = 0; i < actual.total(); ++i) {
    worst = std::max(worst, std::abs(a[i] - e[i]) / std::max(1.0, std::abs(static_cast<double>(e[i]))));
  }
  return worst;
}

TEST(FastLayers, HardSwishOverTheWholeRangeOfTheClamp) {
  // Widths that leave every tail length of a vector loop.
  for (int width : {1, 7, 8, 9, 31, 70}) {
    const cv::Mat input = RandomBlob({2, 3, 5, width}, -10, 10, width);
    cv::dnn::LayerParams params;
    params.set("shift", 2.5f);
    params.set("scale", 0.25f);
    params.set("offset", -0.75f);
    const cv::Mat out = RunOneLayer(kHardSwishType, params, input);
    cv::Mat expected = input.clone();
    for (auto it = expected.begin<float>(); it != expected.end<float>(); ++it) {
      *it = HardSwish(*it, 2.5f, 0.25f, -0.75f);
    }
    EXPECT_LT(Difference(out, expected), 1e-6) << "width " << width;
  }
}

TEST(FastLayers, ChannelScaleMultipliesEachPlaneByItsOwnWeight) {
  RegisterFastLayers();
  const cv::Mat x = RandomBlob({2, 5, 3, 11}, -4, 4, 1);
  const cv::Mat s = RandomBlob({2, 5, 1, 1}, 0, 1, 2);
  cv::dnn::Net net;
  net.setInputsNames({"x", "s"});
  cv::dnn::LayerParams params;
  const int id = net.addLayer("scale", kChannelScaleType, params);
  net.connect(0, 0, id, 0);
  net.connect(0, 1, id, 1);
  net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  net.setInput(x, "x");
  net.setInput(s, "s");
  const cv::Mat out = net.forward().clone();
  cv::Mat expected = x.clone();
  const int planeSize = 3 * 11;
  for (int p = 0; p < 10; ++p) {
    float* plane = expected.ptr<float>() + p * planeSize;
    for (int i = 0; i < planeSize; ++i) {
      plane[i] *= s.ptr<float>()[p];
    }
  }
  EXPECT_LT(Difference(out, expected), 1e-6);

  // Weights for a different number of planes are refused, not read past their end.
  net.setInput(x, "x");
  net.setInput(RandomBlob({1, 5, 1, 1}, 0, 1, 3), "s");
  EXPECT_THROW(net.forward(), cv::Exception);
}

struct DepthwiseCase {
  int batch, channels, height, width, strideY, strideX;
  bool activation;
};

// What the layer should give: each plane filtered with its 5x5 kernel over a zero border, plus the
// bias, then every stride-th row and column, then the activation.
cv::Mat ReferenceDepthwise(const cv::Mat& input, const cv::Mat& weights, const cv::Mat& bias,
                           const DepthwiseCase& c) {
  const int outHeight = (c.height - 1) / c.strideY + 1, outWidth = (c.width - 1) / c.strideX + 1;
  std::vector<int> shape{c.batch, c.channels, outHeight, outWidth};
  cv::Mat out(4, shape.data(), CV_32F);
  for (int n = 0; n < c.batch; ++n) {
    for (int ch = 0; ch < c.channels; ++ch) {
      const int p = n * c.channels + ch;
      const cv::Mat plane(c.height, c.width, CV_32F,
                          const_cast<float*>(input.ptr<float>()) +
                              static_cast<std::size_t>(p) * c.height * c.width);
      const cv::Mat kernel(5, 5, CV_32F, const_cast<float*>(weights.ptr<float>()) + 25 * ch);
      cv::Mat filtered;
      cv::filter2D(plane, filtered, CV_32F, kernel, cv::Point(-1, -1), bias.ptr<float>()[ch],
                   cv::BORDER_CONSTANT);
      float* o = out.ptr<float>() + static_cast<std::size_t>(p) * outHeight * outWidth;
      for (int y = 0; y < outHeight; ++y) {
        for (int x = 0; x < outWidth; ++x) {
          const float v = filtered.at<float>(y * c.strideY, x * c.strideX);
          o[y * outWidth + x] = c.activation ? HardSwish(v, 3, 1.0f / 6, 0.5f) : v;
        }
      }
    }
  }
  return out;
}

TEST(FastLayers, Depthwise5x5MatchesFilteringEachPlane) {
  const DepthwiseCase cases[] = {
      {1, 3, 6, 37, 1, 1, false}, // rows and columns near every border
      {2, 4, 3, 13, 1, 1, true},  // planes of the second image use the same kernels
      {1, 2, 1, 1, 1, 1, false},  // a single pixel sees only the kernel's centre
      {1, 3, 7, 20, 2, 1, true},  // halving the height, as the recogniser does
      {1, 2, 9, 11, 2, 2, false}, // odd sizes halved both ways
      {1, 2, 2, 64, 1, 1, true},  // fewer rows than the kernel
  };
  int seed = 10;
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.batch) + "x" + std::to_string(c.channels) + "x" +
                             std::to_string(c.height) + "x" + std::to_string(c.width) + " stride " +
                             std::to_string(c.strideY) + "," + std::to_string(c.strideX);
    const cv::Mat input = RandomBlob({c.batch, c.channels, c.height, c.width}, -2, 2, ++seed);
    const cv::Mat weights = RandomBlob({c.channels, 1, 5, 5}, -1, 1, ++seed);
    const cv::Mat bias = RandomBlob({c.channels}, -1, 1, ++seed);
    cv::dnn::LayerParams params;
    params.blobs = {weights, bias};
    const int strides[] = {c.strideY, c.strideX};
    params.set("stride", cv::dnn::DictValue::arrayInt(strides, 2));
    if (c.activation) {
      params.set("act_shift", 3.0f);
      params.set("act_scale", 1.0f / 6);
      params.set("act_offset", 0.5f);
    }
    const cv::Mat out = RunOneLayer(kDepthwise5x5Type, params, input);
    const cv::Mat expected = ReferenceDepthwise(input, weights, bias, c);
    ASSERT_EQ(std::vector<int>(out.size.p, out.size.p + out.dims),
              std::vector<int>(expected.size.p, expected.size.p + expected.dims))
        << what;
    EXPECT_LT(Difference(out, expected), 1e-5) << what;
  }
}

TEST(FastLayers, Depthwise5x5RefusesKernelsOfAnotherSize) {
  RegisterFastLayers();
  cv::dnn::LayerParams params;
  params.blobs = {RandomBlob({2, 1, 3, 3}, -1, 1, 1), RandomBlob({2}, -1, 1, 2)};
  EXPECT_THROW(cv::dnn::LayerFactory::createLayerInstance(kDepthwise5x5Type, params), cv::Exception);
}

} // namespace
} // namespace quillore::ppocr
