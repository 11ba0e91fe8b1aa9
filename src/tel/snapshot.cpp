#include "tel/snapshot.h"

#include <algorithm>

#include "tel/json_text.h"

namespace le::tel {
namespace {

bool isKnownNumberKey(std::string_view key) {
  return std::find(kKnownNumberKeys.begin(), kKnownNumberKeys.end(), key) != kKnownNumberKeys.end();
}

bool hasOwnTextPlace(std::string_view key) { return key == kModelKeyText || key == kDeviceModelText; }

// Appends ,"name": (or "name": for the first member of an object).
void appendName(std::string& out, std::string_view name, bool first = false) {
  if (!first) out.push_back(',');
  appendJsonString(out, name);
  out.push_back(':');
}

void appendMachine(std::string& out, const SnapshotInputs& in) {
  const auto recordedModel = in.texts.find(kDeviceModelText);
  appendName(out, "os");
  appendJsonString(out, in.machine.os);
  appendName(out, "os_version");
  appendJsonString(out, in.machine.os_version);
  appendName(out, "device_model");
  appendJsonString(out, recordedModel != in.texts.end() ? recordedModel->second : in.machine.device_model);
  appendName(out, "arch");
  appendJsonString(out, in.machine.arch);
  appendName(out, "cpu_cores");
  out.append(std::to_string(in.machine.cpu_cores));
  appendName(out, "ram_bytes");
  out.append(std::to_string(in.machine.ram_bytes));
}

void appendKnownValues(std::string& out, const SnapshotInputs& in) {
  for (const std::string_view key : kKnownNumberKeys) {
    const auto found = in.numbers.find(key);
    if (found == in.numbers.end()) continue;
    appendName(out, key);
    appendJsonNumber(out, found->second);
  }
  const auto model = in.texts.find(kModelKeyText);
  if (model != in.texts.end()) {
    appendName(out, kModelKeyText);
    appendJsonString(out, model->second);
  }
}

void appendExtra(std::string& out, const SnapshotInputs& in) {
  appendName(out, "extra");
  out.push_back('{');
  bool first = true;
  for (const auto& [key, value] : in.numbers) {
    if (isKnownNumberKey(key)) continue;
    appendName(out, key, first);
    appendJsonNumber(out, value);
    first = false;
  }
  for (const auto& [key, value] : in.texts) {
    if (hasOwnTextPlace(key)) continue;
    appendName(out, key, first);
    appendJsonString(out, value);
    first = false;
  }
  out.push_back('}');
}

}  // namespace

std::string writeSnapshot(const SnapshotInputs& in) {
  std::string out = "{";
  appendName(out, "ts", true);
  out.append(std::to_string(in.ts));
  appendMachine(out, in);
  appendName(out, "sdk_version");
  appendJsonString(out, in.sdkVersion);
  appendKnownValues(out, in);
  appendExtra(out, in);
  out.push_back('}');
  return out;
}

}  // namespace le::tel
