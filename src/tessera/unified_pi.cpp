#include "tessera/unified_pi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "tessera/json_reader.h"
#include "tessera/json_value.h"

namespace le::tessera {

namespace {

using json::JVal;

const JVal& requiredMember(const JVal& object, const std::string& key) {
  const JVal* value = object.find(key);
  if (!value) throw std::runtime_error("teeth: member JSON lacks key '" + key + "'");
  return *value;
}

bool readCornerRecovery(const JVal* value) {
  if (!value) return false;
  if (value->kind == JVal::kBool) return value->boolean;
  if (value->kind == JVal::kString && value->string == "lip_landmark_half") return true;
  throw std::runtime_error(
      "teeth-pi: unknown unified.pi.corner_recovery \xe2\x80\x94 a compose-mask geometry a consumer cannot name must "
      "never be guessed");
}

std::vector<int32_t> readLipIdx(const JVal& value) {
  if (!value.isArray() || value.array.empty())
    throw std::runtime_error("teeth-pi: unified.pi.lip_idx is not a non-empty array");
  std::vector<int32_t> idx;
  for (const JVal& v : value.array) {
    const double n = v.kind == JVal::kNumber ? v.number : 0.0;
    idx.push_back(std::isfinite(n) ? int32_t(std::clamp(n, -2147483648.0, 2147483647.0)) : 0);
  }
  return idx;
}

void checkCanvas(const JVal& unified, int canvas) {
  const JVal* crop = unified.find("crop");
  const JVal* declared = crop ? crop->find("canvas") : nullptr;
  if (!declared) return;
  const double value = declared->kind == JVal::kNumber ? declared->number : 0.0;
  if (std::isfinite(value) && std::trunc(value) == double(canvas)) return;
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  throw std::runtime_error("teeth-pi: engine renders at canvas " + std::to_string(canvas) +
                           " but unified.crop.canvas is " + text);
}

double smoothstep(double t) { return t * t * (3.0 - 2.0 * t); }

// The byte of a mask value in [0, 1]: rounded to nearest, ties to even.
uint8_t maskByte(double m) {
  if (!(m > 0.0)) return 0;
  return uint8_t(std::nearbyint(std::min(m, 1.0) * 255.0));
}

}  // namespace

UnifiedPi UnifiedPi::fromManifestJson(const std::string& manifestText, int canvas) {
  const JVal manifest = json::parse(manifestText);
  const JVal* unified = manifest.find("unified");
  if (!unified)
    throw std::runtime_error(
        "teeth-pi: manifest has no `unified` block \xe2\x80\x94 this bundle predates the unified compose and cannot "
        "state the pi geometry it was baked with; refusing to guess one");
  const JVal& pi = requiredMember(*unified, "pi");
  const JVal& mode = requiredMember(pi, "mode");
  if (mode.kind != JVal::kString) throw std::runtime_error("teeth-pi: unified.pi.mode is not a string");
  if (mode.string != "prop")
    throw std::runtime_error("teeth-pi: unified.pi.mode '" + mode.string +
                             "' is a compose-mask geometry this port cannot name \xe2\x80\x94 fail loud, never adapt "
                             "(the stamped-geometry rule)");
  UnifiedPi g;
  g.canvas_ = canvas;
  g.mode_ = mode.string;
  g.cornerRecovery_ = readCornerRecovery(pi.find("corner_recovery"));
  const JVal& scale = requiredMember(pi, "prop_gate_scale");
  g.propGateScale_ = float(scale.kind == JVal::kNumber ? scale.number : 0.0);
  g.lipIdx_ = readLipIdx(requiredMember(pi, "lip_idx"));
  const JVal& params = requiredMember(pi, "lip_geom_params");
  if (!params.isArray() || params.array.size() != 3 ||
      std::any_of(params.array.begin(), params.array.end(), [](const JVal& v) { return v.kind != JVal::kNumber; }))
    throw std::runtime_error("teeth-pi: unified.pi.lip_geom_params must be [pad_x, pad_y, down]");
  g.setLipGeometry(float(params.array[0].number), float(params.array[1].number), float(params.array[2].number));
  checkCanvas(*unified, canvas);
  g.gridX_.resize(size_t(std::max(canvas, 0)));
  for (int i = 0; i < canvas; ++i) g.gridX_[size_t(i)] = canvas == 1 ? -1.0f : float(i * 2.0 / (canvas - 1) - 1.0);
  g.gridY_ = g.gridX_;
  return g;
}

void UnifiedPi::setLipGeometry(float padX, float padY, float down) {
  padX_ = padX;
  padY_ = padY;
  down_ = down;
}

UnifiedPi::LipStats UnifiedPi::lipStats(const float* kp) const {
  LipStats s;
  double sx = 0, sy = 0;
  for (int32_t i : lipIdx_) {
    if (i < 0 || i >= 21) throw std::runtime_error("teeth-pi: unified.pi.lip_idx names keypoint " + std::to_string(i) +
                                                   ", outside the 21 a frame carries");
    sx += kp[i * 3];
    sy += kp[i * 3 + 1];
  }
  const double mx = sx / double(lipIdx_.size()), my = sy / double(lipIdx_.size());
  double dx = 0, dy = 0;
  for (int32_t i : lipIdx_) {
    dx = std::max(dx, std::fabs(kp[i * 3] - mx));
    dy = std::max(dy, std::fabs(kp[i * 3 + 1] - my));
  }
  s.mx = float(mx), s.my = float(my), s.dx = float(dx), s.dy = float(dy);
  return s;
}

UnifiedPi::EllParams UnifiedPi::lipParams(const float* kp) const {
  const LipStats s = lipStats(kp);
  double cx = s.mx, cy = double(s.my) + down_;
  double ax = std::max(0.1, double(s.dx) + padX_), ay = std::max(0.1, double(s.dy) + padY_);
  if (cornerRecovery_) {
    // Every lip landmark at least 5 pixels inside the ellipse's edge.
    double rho = 0;
    for (int32_t i : lipIdx_) {
      const double u = (kp[i * 3] - cx) / ax, v = (kp[i * 3 + 1] - cy) / ay;
      rho = std::max(rho, std::sqrt(u * u + v * v));
    }
    const double r = std::sqrt(ax * ay) * 256.0;
    const double grow = std::max(1.0, 5.0 / r + rho);
    ax *= grow;
    ay *= grow;
  }
  return {float(cx), float(cy), float(ax), float(ay), float(std::sqrt(ax * ay) * 256.0)};
}

UnifiedPi::EllParams UnifiedPi::gateParams(const float* kp, float* gateOut) const {
  const LipStats s = lipStats(kp);
  double ax = std::max(double(s.dx), 0.004), ay = std::max(double(s.dy), 0.004);
  if (propGateScale_ != 1.0f) ax *= propGateScale_, ay *= propGateScale_;
  const double t = (double(s.dy) - 0.02) / 0.01;
  if (gateOut) *gateOut = t < 0 ? 0.0f : float(smoothstep(std::clamp(t, 0.0, 1.0)));
  return {s.mx, s.my, float(ax), float(ay), float(std::sqrt(ax * ay) * 256.0)};
}

float UnifiedPi::softEllipse(const EllParams& e, int col, int row) const {
  const double u = (double(gridX_[size_t(col)]) - e.cx) / e.ax, v = (double(gridY_[size_t(row)]) - e.cy) / e.ay;
  const double edge = double(e.radiusPx) * (1.0 - std::sqrt(u * u + v * v)) / 10.0;
  return edge < 0 ? 0.0f : float(smoothstep(std::min(edge, 1.0)));
}

uint8_t UnifiedPi::piByte(const EllParams& lip, const EllParams& gate, float g, int col, int row) const {
  const double gated = double(softEllipse(gate, col, row)) * g;
  return maskByte(std::max(double(softEllipse(lip, col, row)), gated));
}

void UnifiedPi::lipMask(const float* kp, float* out) const {
  const EllParams lip = lipParams(kp);
  for (int y = 0; y < canvas_; ++y)
    for (int x = 0; x < canvas_; ++x) out[size_t(y) * canvas_ + x] = softEllipse(lip, x, y);
}

void UnifiedPi::propTeethGate(const float* kp, float* out) const {
  float g = 0;
  const EllParams gate = gateParams(kp, &g);
  for (int y = 0; y < canvas_; ++y)
    for (int x = 0; x < canvas_; ++x) out[size_t(y) * canvas_ + x] = float(double(softEllipse(gate, x, y)) * g);
}

Box UnifiedPi::ellBox(const EllParams& e) const {
  if (canvas_ < 2) return {0, 0, canvas_, canvas_};
  const double h = (canvas_ - 1) * 0.5;
  Box b;
  b.x0 = std::max(int32_t(std::floor((double(e.cx) - e.ax + 1.0) * h)) - 1, 0);
  b.y0 = std::max(int32_t(std::floor((double(e.cy) - e.ay + 1.0) * h)) - 1, 0);
  b.x1 = std::min(int32_t(std::ceil((double(e.cx) + e.ax + 1.0) * h)) + 2, canvas_);
  b.y1 = std::min(int32_t(std::ceil((double(e.cy) + e.ay + 1.0) * h)) + 2, canvas_);
  b.x1 = std::max(b.x1, b.x0);
  b.y1 = std::max(b.y1, b.y0);
  return b;
}

Box UnifiedPi::supportBox(const float* kp) const {
  const Box a = ellBox(lipParams(kp)), b = ellBox(gateParams(kp, nullptr));
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

void UnifiedPi::piInBox(const EllParams& lip, const EllParams& gate, float g, const Box& box, uint8_t* out) const {
  for (int y = box.y0; y < box.y1; ++y)
    for (int x = box.x0; x < box.x1; ++x) out[size_t(y) * canvas_ + x] = piByte(lip, gate, g, x, y);
}

void UnifiedPi::piU8(const float* kp, uint8_t* out) const {
  float g = 0;
  const EllParams gate = gateParams(kp, &g);
  piInBox(lipParams(kp), gate, g, {0, 0, canvas_, canvas_}, out);
}

void UnifiedPi::piU8Boxed(const float* kp, uint8_t* out) const {
  float g = 0;
  const EllParams lip = lipParams(kp), gate = gateParams(kp, &g);
  std::fill(out, out + size_t(canvas_) * canvas_, uint8_t(0));
  piInBox(lip, gate, g, ellBox(lip), out);
  piInBox(lip, gate, g, ellBox(gate), out);
}

void UnifiedPi::piU8ShrunkBy(const float* kp, const float* limit, const Box& box, uint8_t* out) const {
  float g = 0;
  const EllParams lip = lipParams(kp), gate = gateParams(kp, &g);
  for (int y = std::max(box.y0, 0); y < std::min(box.y1, canvas_); ++y)
    for (int x = std::max(box.x0, 0); x < std::min(box.x1, canvas_); ++x) {
      const size_t i = size_t(y) * canvas_ + x;
      if (!(limit[i] > 0.0f)) continue;
      const double gated = double(softEllipse(gate, x, y)) * g;
      const double pi = std::min(std::max(double(softEllipse(lip, x, y)), gated), 1.0);
      out[i] = maskByte(std::min(double(limit[i]), pi));
    }
}

}  // namespace le::tessera
