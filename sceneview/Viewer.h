#pragma once
// sceneview's server: listens on 127.0.0.1, takes any number of plot feeds at once, and turns
// their frames into change lines. Every client has its own frame reader; a client that sends
// something unreadable, stalls inside a frame, or goes away is dropped with one line, and the
// others (and the next) are served as before.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "SceneProtocol.h"

namespace sceneview {

struct ViewerOptions {
  int port = 3501;           // 0: a port the system picks
  std::string scenes = ".";  // folder that scene-file names are taken from
  std::string png;           // top view written here every second, when set
  bool quiet = false;        // no change lines
  int stallMs = 5000;        // a frame begun and not finished within this is given up
  int maxClients = 16;
};

class Viewer {
public:
  explicit Viewer(ViewerOptions options);
  ~Viewer();
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  bool listen(std::string& error);
  int port() const { return port_; }
  // Serves until stop is set or, with untilMs >= 0, that many milliseconds have passed.
  void serve(const std::atomic<bool>& stop, long long untilMs = -1);

  // Where lines go (standard output and standard error by default).
  std::function<void(const std::string&)> out, err;
  // Called for every whole frame, before it is applied (benchmarks count with it).
  std::function<void(const Frame&)> onFrame;

  const Scene& scene() const { return scene_; }
  long long frames() const { return frames_; }
  long long sequenceErrors() const { return sequenceErrors_; }

  // The top view of the scene as PNG; false with the reason in error.
  bool writeTopView(const std::string& path, std::string& error) const;

private:
  struct Client {
    int fd = -1;
    int id = 0;
    FrameReader reader;
    int lastSequence = 0;  // 0: none yet
    long long lastByteMs = 0;
  };
  void acceptClients(long long nowMs);
  // False when the client is to be dropped (the reason already reported).
  bool readFrom(Client& c, long long nowMs);
  bool handle(Client& c, const Frame& f);
  bool sendLine(Client& c, const std::string& line);
  void drop(Client& c, const std::string& why);
  void loadScene(Client& c, const std::string& file);

  ViewerOptions options_;
  int listener_ = -1;
  int port_ = -1;
  int nextId_ = 1;
  std::vector<Client> clients_;
  Scene scene_;
  long long frames_ = 0;
  long long sequenceErrors_ = 0;
  bool changed_ = false;
};

}  // namespace sceneview
