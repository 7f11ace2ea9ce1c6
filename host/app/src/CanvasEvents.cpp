#include "CanvasEvents.h"

#include <algorithm>

#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

namespace {
using Clock = std::chrono::steady_clock;

// One server-sent event; data lines may not hold line breaks, so a text that has them (none of
// ours should) is sent as several data lines, which the page's EventSource joins again.
void appendEvent(std::string& frame, const char* name, const std::string& data) {
  frame += "event: ";
  frame += name;
  frame += "\ndata: ";
  for (char c : data) {
    if (c == '\n') frame += "\ndata: ";
    else if (c != '\r') frame += c;
  }
  frame += "\n\n";
}
}  // namespace

std::string CanvasEvents::valueData(const std::string& id, int output, const JWireValue& v) {
  std::string data = "{\"module\": " + jsonQuote(id) + ", \"output\": " + std::to_string(output) + ", \"value\": ";
  size_t more = 0;
  switch (v.type()) {
    case JStringData::id: {
      const std::string& s = v.text().str();
      size_t keep = s.size();
      if (keep > kMaxTextBytes) {
        keep = kMaxTextBytes;
        // Cut before a character, not inside one.
        while (keep > 0 && (static_cast<unsigned char>(s[keep]) & 0xC0) == 0x80) --keep;
        more = s.size() - keep;
      }
      data += more ? jsonQuote(s.substr(0, keep)) : jsonQuote(s);
      break;
    }
    case JBytesData::id: {
      static const char hex[] = "0123456789abcdef";
      const JBlock& b = v.bytes();
      const size_t size = static_cast<size_t>(std::max(0, b.size()));
      const size_t keep = std::min(size, kMaxBlockBytes);
      more = size - keep;
      data += "\"0x";
      for (size_t i = 0; i < keep; ++i) {
        const auto byte = static_cast<unsigned char>(b[static_cast<int>(i)]);
        data += hex[byte >> 4];
        data += hex[byte & 15];
      }
      data += '"';
      break;
    }
    default: data += std::to_string(v.integer()); break;
  }
  if (more) data += ", \"more\": " + std::to_string(more);
  data += '}';
  return data;
}

void CanvasEvents::value(const std::string& id, int output, const JWireValue& v) {
  std::string data = valueData(id, output, v);  // formatted outside the lock
  std::lock_guard<std::mutex> g(m_);
  Slot& s = values_[{id, output}];
  s.data.swap(data);
  s.seq = ++valueSeq_;
  s.at = Clock::now();
  if (idle_ > 0) news_.notify_all();
}

void CanvasEvents::monitorLine(const std::string& line) {
  std::lock_guard<std::mutex> g(m_);
  if (streams_ == 0) return;  // lines are for the pages watching now
  lines_.push_back(line.size() > kMaxLineBytes ? line.substr(0, kMaxLineBytes) : line);
  if (lines_.size() > kMaxLines) {
    lines_.pop_front();
    ++firstLine_;
  }
  if (idle_ > 0) news_.notify_all();
}

void CanvasEvents::diagramChanged() {
  std::lock_guard<std::mutex> g(m_);
  ++diagramSeq_;
  news_.notify_all();
}

void CanvasEvents::watch(JModuleObj* m) {
  std::lock_guard<std::mutex> g(m_);
  watched_.push_back(Watched{m, ++watchNumber_});
}

void CanvasEvents::unwatch(JModuleObj* m) {
  std::lock_guard<std::mutex> g(m_);
  watched_.erase(std::remove_if(watched_.begin(), watched_.end(), [m](const Watched& w) { return w.module == m; }),
                 watched_.end());
  const std::string& id = m->id();
  for (auto it = values_.begin(); it != values_.end();) {
    if (it->first.first == id) it = values_.erase(it);
    else ++it;
  }
}

void CanvasEvents::close() {
  std::lock_guard<std::mutex> g(m_);
  closed_ = true;
  watched_.clear();
  news_.notify_all();
}

CanvasEvents::Cursor CanvasEvents::join() {
  std::lock_guard<std::mutex> g(m_);
  ++streams_;
  Cursor c;
  c.lineSeq = firstLine_ + lines_.size();
  c.diagramSeq = diagramSeq_;
  for (const Watched& w : watched_) c.repaints[w.number].count = w.module->repaintCount();
  return c;
}

void CanvasEvents::leave() {
  std::lock_guard<std::mutex> g(m_);
  if (--streams_ == 0) {
    firstLine_ += lines_.size();
    lines_.clear();
  }
}

int CanvasEvents::streams() const {
  std::lock_guard<std::mutex> g(m_);
  return streams_;
}

bool CanvasEvents::hasNews(const Cursor& c) const {
  return valueSeq_ > c.valueSeq || firstLine_ + lines_.size() > c.lineSeq || diagramSeq_ > c.diagramSeq;
}

bool CanvasEvents::nextFrame(Cursor& c, int waitMs, std::string& frame) {
  frame.clear();
  std::unique_lock<std::mutex> lk(m_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  // The pace of frames: one timed sleep after a frame, however many values come meanwhile, so a
  // busy stream wakes once a frame and the run never has to wake it.
  const auto earliest = c.lastFrame + std::chrono::milliseconds(kFrameMs);
  while (!closed_ && Clock::now() < earliest) news_.wait_until(lk, earliest);
  // Then whatever is new, or a wait for it that the first news ends.
  while (!closed_ && !hasNews(c) && Clock::now() < deadline) {
    ++idle_;
    news_.wait_until(lk, deadline);
    --idle_;
  }
  if (closed_) return false;
  take(c, frame);
  if (!frame.empty()) c.lastFrame = Clock::now();
  return true;
}

// With m_ held.
void CanvasEvents::take(Cursor& c, std::string& frame) {
  const auto now = Clock::now();
  if (valueSeq_ > c.valueSeq) {
    for (const auto& e : values_) {
      if (e.second.seq <= c.valueSeq) continue;
      appendEvent(frame, "value", e.second.data);
      const auto us =
          static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now - e.second.at).count());
      ++delays_.count;
      delays_.totalUs += us;
      delays_.maxUs = std::max(delays_.maxUs, us);
    }
    c.valueSeq = valueSeq_;
  }
  if (c.lineSeq < firstLine_) {
    frame += ": " + std::to_string(firstLine_ - c.lineSeq) + " monitor lines skipped\n\n";
    c.lineSeq = firstLine_;
  }
  for (; c.lineSeq < firstLine_ + lines_.size(); ++c.lineSeq)
    appendEvent(frame, "monitor", lines_[static_cast<size_t>(c.lineSeq - firstLine_)]);
  if (c.diagramSeq < diagramSeq_) {
    appendEvent(frame, "diagram", "{}");
    c.diagramSeq = diagramSeq_;
  }
  for (const Watched& w : watched_) {
    const int count = w.module->repaintCount();
    auto it = c.repaints.find(w.number);
    if (it == c.repaints.end()) {
      c.repaints[w.number].count = count;  // placed since the page joined: it fetches the face anyway
    } else if (it->second.count != count && now - it->second.at >= std::chrono::milliseconds(kRepaintMs)) {
      it->second.count = count;
      it->second.at = now;
      appendEvent(frame, "repaint", "{\"module\": " + jsonQuote(w.module->id()) + "}");
    }
  }
}

CanvasEvents::Delays CanvasEvents::delays() const {
  std::lock_guard<std::mutex> g(m_);
  return delays_;
}
