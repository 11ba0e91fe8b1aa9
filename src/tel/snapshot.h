// The telemetry snapshot: recorded values and the machine description as one JSON object.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "tel/machine.h"

namespace le::tel {

// Recorded values by key, in byte-wise key order; the transparent comparison lets lookups take a
// string_view without building a string.
using NumberValues = std::map<std::string, double, std::less<>>;
using TextValues = std::map<std::string, std::string, std::less<>>;

// Numbers with a member of their own, written in this order; every other number goes to "extra".
inline constexpr std::array<std::string_view, 5> kKnownNumberKeys = {"fps_ema", "frames_total", "session_s",
                                                                     "load_ms", "thermal_state"};
// Texts with a place of their own: the model member, and the machine's device model.
inline constexpr std::string_view kModelKeyText = "model_key";
inline constexpr std::string_view kDeviceModelText = "device_model";

struct SnapshotInputs {
  int64_t ts = 0;  // seconds since the Unix epoch
  const MachineDescription& machine;
  std::string_view sdkVersion;
  const NumberValues& numbers;
  const TextValues& texts;
};

// One JSON object without white space: ts, os, os_version, device_model, arch, cpu_cores,
// ram_bytes, sdk_version, the known numbers that are recorded (in table order), model_key when
// recorded, and "extra" (the other numbers, then the other texts, each in key order).
std::string writeSnapshot(const SnapshotInputs& in);

}  // namespace le::tel
