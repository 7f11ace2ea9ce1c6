#pragma once
// What the canvas's event stream tells its pages, gathered where the run happens and handed out
// to each page at its own pace.
//
// The host thread only records: the latest value of each output (formatted once, bounded), each
// Monitor line in a bounded ring, and that the diagram changed. A page's stream takes what is new
// in frames at least kFrameMs apart, so each output reaches a page at most 15 times a second (a
// value waits at most that long) and the last value of a burst always goes out with the next frame. A page that falls behind the
// ring of Monitor lines skips the lines it missed (a comment line says how many): a slow page
// never holds the run up.
//
// Repaints are counted by the modules themselves; the stream compares counts (and tells of a
// module's repaints at most every kRepaintMs, the last always), so the modules it watches are
// registered here and unregistered (on the host thread) before they are destroyed.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class JModuleObj;
class JWireValue;

class CanvasEvents {
public:
  // A frame costs the run a wake-up and a send however little it holds: 15 a second keep a value
  // within 100 ms of its broadcast on the page, at two thirds of the cost of 20.
  static constexpr int kFrameMs = 66;
  // A page fetches the face again on each repaint: a request, a drawing on the host thread and a
  // PNG, for a face that changes with every value; once a second shows it live enough.
  static constexpr int kRepaintMs = 1000;
  static constexpr size_t kMaxTextBytes = 4096;   // of a text value sent to a page
  static constexpr size_t kMaxBlockBytes = 2048;  // of a byte block (4 KB of hex)
  static constexpr size_t kMaxLines = 512;        // Monitor lines kept for pages
  static constexpr size_t kMaxLineBytes = 8192;   // of one Monitor line

  // The data of a value event: {"module": ID, "output": N, "value": V}, V a number or the text or
  // block as the trace lines write them, as a JSON string; a value cut to its bounds has
  // "more": the number of bytes left out.
  static std::string valueData(const std::string& id, int output, const JWireValue& v);

  // --- the host thread ---
  void value(const std::string& id, int output, const JWireValue& v);
  void monitorLine(const std::string& line);
  void diagramChanged();
  void watch(JModuleObj* m);    // its repaints are reported from now on
  void unwatch(JModuleObj* m);  // before it is destroyed; its values are forgotten
  // Ends every stream (they finish their frame and return false from nextFrame).
  void close();

  // --- the streams ---
  struct Cursor {
    uint64_t valueSeq = 0;  // every value newer than this is still to send
    uint64_t lineSeq = 0;   // the next Monitor line to send
    uint64_t diagramSeq = 0;
    struct Repaints {
      int count = 0;  // already reported
      std::chrono::steady_clock::time_point at{};
    };
    std::map<uint64_t, Repaints> repaints;  // by watch number
    std::chrono::steady_clock::time_point lastFrame{};
  };
  // A cursor for a page that joins now: every latest value is new to it; lines and repaints
  // from now on.
  Cursor join();
  void leave();
  // Waits for something new (at most waitMs), keeping kFrameMs after the cursor's last frame,
  // and returns the frame's text (event lines); "" when nothing came. False once closed.
  bool nextFrame(Cursor& c, int waitMs, std::string& frame);
  int streams() const;

  // Broadcast-to-frame delay of every value sent so far, in microseconds.
  struct Delays {
    uint64_t count = 0, totalUs = 0, maxUs = 0;
  };
  Delays delays() const;

private:
  struct Slot {
    std::string data;  // the event's data
    uint64_t seq = 0;
    std::chrono::steady_clock::time_point at;  // when the host thread saw it
  };
  bool hasNews(const Cursor& c) const;  // with m_ held
  void take(Cursor& c, std::string& frame);

  mutable std::mutex m_;
  std::condition_variable news_;
  std::map<std::pair<std::string, int>, Slot> values_;
  uint64_t valueSeq_ = 0;
  std::deque<std::string> lines_;
  uint64_t firstLine_ = 0;  // sequence number of lines_.front()
  uint64_t diagramSeq_ = 0;
  struct Watched {
    JModuleObj* module;
    uint64_t number;  // a module made at a freed one's address is a new one
  };
  std::vector<Watched> watched_;
  uint64_t watchNumber_ = 0;
  int streams_ = 0;
  int idle_ = 0;  // streams waiting with nothing to send: only they need waking
  bool closed_ = false;
  Delays delays_;
};
