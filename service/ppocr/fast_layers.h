// Network layers of our own for steps that OpenCV 4.6 runs as several slow ones: the hard-swish
// activation, 5x5 depthwise convolutions and the per-channel scaling of squeeze-and-excitation
// blocks. The model converter writes them as ONNX nodes of these types (in the default domain:
// OpenCV 4.6 warns about every node of a domain it has no table for).
#pragma once

namespace quillore::ppocr {

inline constexpr const char* kHardSwishType = "QuilloreHardSwish";
inline constexpr const char* kChannelScaleType = "QuilloreChannelScale";
inline constexpr const char* kDepthwise5x5Type = "QuilloreDepthwise5x5";

// Makes the layers known to OpenCV's ONNX importer. Call before reading a converted model; calling
// it again does nothing.
void RegisterFastLayers();

} // namespace quillore::ppocr
