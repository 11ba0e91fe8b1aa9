// One viewer at a time drives the person: its commands become utterances, and every turn of the
// 25 fps clock hands it the next frame. The network side calls every member from its one thread;
// slow work (speech synthesis, decoding a recording) runs elsewhere and comes back to that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jpeg_encoder.h"
#include "protocol.h"
#include "stage.h"

namespace le_serve {

struct Outgoing {
  std::shared_ptr<const std::string> bytes;
  bool binary = false;
  // Frames and stats: dropped rather than queued while the viewer is behind.
  bool droppable = false;
};

// A connected page as the studio sees it; the network side implements it.
class Viewer {
 public:
  virtual ~Viewer() = default;
  // Queues a message; returns false when a droppable one was dropped because the viewer is behind.
  virtual bool send(Outgoing message) = 0;
};

class Studio {
 public:
  using Task = std::function<void()>;
  using Runner = std::function<void(Task)>;

  // offload runs a task off the network thread; home runs one back on it.
  Studio(Stage& stage, const Limits& limits, Runner offload, Runner home);
  Studio(const Studio&) = delete;
  Studio& operator=(const Studio&) = delete;

  // The viewer drives from now on (true), or another one already does (false).
  bool attach(Viewer* viewer);
  // The driving viewer left: its utterance stops, and the next viewer finds the person idle.
  void detach(Viewer* viewer);
  void onText(Viewer* from, const std::string& message);
  void onBinary(Viewer* from, const std::string& message);
  // A message of `bytes` bytes, over the limit, arrived from the viewer and was discarded.
  void onOversized(Viewer* from, size_t bytes);
  // One turn of the 25 fps clock.
  void tick();

  // The figures the stats message carries, as of now.
  std::string stats() const { return statsMessage(stage_.figures(), link_); }

 private:
  void command(const Command& c);
  void upload(const std::string& message);
  void microphone(const std::string& message);
  // Produces the audio with produce() off the network thread, then says it unless a later request
  // made it obsolete.
  void sayLater(Source source, std::function<std::vector<int16_t>()> produce);
  void say(Source source, std::vector<int16_t> audio);
  void fail(const std::string& line);
  void sendFrame(const le_utt_frame_info& info);
  void sendStats();
  void send(std::string bytes, bool binary, bool droppable);

  Stage& stage_;
  Limits limits_;
  Runner offload_, home_;
  JpegEncoder jpeg_;
  Viewer* viewer_ = nullptr;
  // Bumped by every request that makes a pending one obsolete (a new utterance, an interrupt, a
  // viewer leaving).
  uint64_t generation_ = 0;
  uint32_t utterances_ = 0;
  bool micOpen_ = false;
  LinkFigures link_;
  int64_t ticks_ = 0;
  // The CPU time and pulled-frame count when the stats were last sent.
  double statsCpuMs_ = 0.0;
  int64_t statsFrames_ = 0;
};

}  // namespace le_serve
