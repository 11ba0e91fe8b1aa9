#include "render/ops/int8_conv_op.h"

#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "render/ops/int8_conv.h"

namespace le {

namespace {

std::string shapeText(const std::vector<int64_t>& shape) {
  std::ostringstream s;
  s << '[';
  for (size_t i = 0; i < shape.size(); ++i) s << (i ? "," : "") << shape[i];
  s << ']';
  return s.str();
}

// An int list attribute, or its default when the node does not carry it.
std::vector<int64_t> listAttribute(const OrtKernelInfo* info, const char* name, std::vector<int64_t> fallback,
                                   size_t count) {
  std::vector<int64_t> values;
  try {
    values = Ort::ConstKernelInfo(info).GetAttributes<int64_t>(name);
  } catch (const Ort::Exception&) {
    return fallback;
  }
  if (values.size() != count)
    throw std::runtime_error(std::string("Int8ConvVNNI: attribute ") + name + " has " + std::to_string(values.size()) +
                             " values, expected " + std::to_string(count));
  return values;
}

Int8ConvAttributes readAttributes(const OrtKernelInfo* info) {
  Int8ConvAttributes a;
  a.strides = listAttribute(info, "strides", a.strides, 2);
  a.pads = listAttribute(info, "pads", a.pads, 4);
  a.dilations = listAttribute(info, "dilations", a.dilations, 2);
  try {
    a.group = Ort::ConstKernelInfo(info).GetAttribute<int64_t>("group");
  } catch (const Ort::Exception&) {
    a.group = 1;
  }
  for (int64_t v : a.strides)
    if (v < 1) throw std::runtime_error("Int8ConvVNNI: strides must be positive, got " + shapeText(a.strides));
  for (int64_t v : a.dilations)
    if (v < 1) throw std::runtime_error("Int8ConvVNNI: dilations must be positive, got " + shapeText(a.dilations));
  for (int64_t v : a.pads)
    if (v < 0) throw std::runtime_error("Int8ConvVNNI: pads must not be negative, got " + shapeText(a.pads));
  if (a.group < 1) throw std::runtime_error("Int8ConvVNNI: group must be positive, got " + std::to_string(a.group));
  return a;
}

Int8ConvShape shapeOf(const Int8ConvAttributes& a, const std::vector<int64_t>& xs, const std::vector<int64_t>& ws,
                      size_t scales, size_t biases) {
  if (xs.size() != 4 || ws.size() != 4)
    throw std::runtime_error("Int8ConvVNNI: X must be [N,C,H,W] and W [M,C/group,kH,kW]; got X " + shapeText(xs) +
                             " and W " + shapeText(ws));
  Int8ConvShape s;
  s.N = xs[0], s.C = xs[1], s.H = xs[2], s.W = xs[3];
  s.M = ws[0], s.kH = ws[2], s.kW = ws[3];
  s.group = a.group;
  if (s.C != ws[1] * a.group || s.M % a.group != 0)
    throw std::runtime_error("Int8ConvVNNI: X " + shapeText(xs) + " and W " + shapeText(ws) +
                             " do not form group=" + std::to_string(a.group) + " channels");
  if (scales != size_t(s.M) || biases != size_t(s.M))
    throw std::runtime_error("Int8ConvVNNI: scale and bias need " + std::to_string(s.M) + " values each, got " +
                             std::to_string(scales) + " and " + std::to_string(biases));
  s.strideH = a.strides[0], s.strideW = a.strides[1];
  s.padTop = a.pads[0], s.padLeft = a.pads[1], s.padBottom = a.pads[2], s.padRight = a.pads[3];
  s.dilH = a.dilations[0], s.dilW = a.dilations[1];
  int8ConvDeriveOutput(s);
  return s;
}

OrtStatusPtr statusOf(const std::exception& ex) {
  if (const auto* ort = dynamic_cast<const Ort::Exception*>(&ex))
    return Ort::GetApi().CreateStatus(ort->GetOrtErrorCode(), ort->what());
  return Ort::GetApi().CreateStatus(ORT_RUNTIME_EXCEPTION, ex.what());
}

}  // namespace

Int8ConvOp::Int8ConvOp() {
  start_ver_ = 1;
  end_ver_ = std::numeric_limits<int>::max();
}

OrtStatusPtr Int8ConvOp::CreateKernelV2(const OrtApi&, const OrtKernelInfo* info, void** kernel) const {
  try {
    *kernel = new Int8ConvKernel(readAttributes(info));
    return nullptr;
  } catch (const std::exception& ex) {
    return statusOf(ex);
  }
}

OrtStatusPtr Int8ConvKernel::ComputeV2(OrtKernelContext* raw) {
  try {
    Ort::KernelContext context(raw);
    const Ort::ConstValue X = context.GetInput(0), W = context.GetInput(1);
    const Ort::ConstValue scale = context.GetInput(2), bias = context.GetInput(3);
    const std::vector<int64_t> ws = W.GetTensorTypeAndShapeInfo().GetShape();
    const Int8ConvShape s = shapeOf(attributes_, X.GetTensorTypeAndShapeInfo().GetShape(), ws,
                                    scale.GetTensorTypeAndShapeInfo().GetElementCount(),
                                    bias.GetTensorTypeAndShapeInfo().GetElementCount());
    std::call_once(packOnce_, [&] {
      packed_ = packInt8Weights(W.GetTensorData<int8_t>(), s.M, ws[1], s.kH, s.kW, s.group);
    });
    Ort::UnownedValue Y = context.GetOutput(0, {s.N, s.M, s.Ho, s.Wo});
    int8ConvForward(s, packed_, X.GetTensorData<float>(), scale.GetTensorData<float>(), bias.GetTensorData<float>(),
                    Y.GetTensorMutableData<float>());
    return nullptr;
  } catch (const std::exception& ex) {
    return statusOf(ex);
  }
}

}  // namespace le
