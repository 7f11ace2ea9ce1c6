#pragma once
// sceneview's server: listens on 127.0.0.1, takes up to 16 plot feeds at once, and turns their
// frames into change lines. Every client has its own frame reader; a client that sends something
// unreadable, stalls inside a frame, says nothing for 30 s, or goes away is dropped with one line,
// and the others (and the next) are served as before.
//
// A client names scene files, and gets back the names in them: so a name is taken only inside
// the --scenes folder (no absolute path, no "..", no link that leads out), only as a regular
// file (a pipe or a device is refused without being waited on) of at most kMaxSceneFile bytes.
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
  int idleMs = 30000;        // a client that sends nothing for this long is dropped
  int maxClients = 16;
};

class Viewer {
public:
  explicit Viewer(ViewerOptions options);
  ~Viewer();
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  // Checks the folders of the options before anything is served: the scenes folder exists, and
  // the picture's folder exists and can be written. False with one line's reason in error.
  bool checkPaths(std::string& error);
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
  void loadScene(Client& c, const std::string& file, const std::string& changeLine);
  bool resolveScenes(std::string& error);
  // The content of a scene file named by a client; false with the reason in why.
  bool readSceneFile(const std::string& name, std::string& text, std::string& resolved, std::string& why);

  ViewerOptions options_;
  int listener_ = -1;
  int port_ = -1;
  int nextId_ = 1;
  std::vector<Client> clients_;
  Scene scene_;
  long long frames_ = 0;
  long long sequenceErrors_ = 0;
  bool changed_ = false;
  std::string scenesRoot_;  // the scenes folder, resolved
  // The scene loaded last: asked for again (as the feed does at every calibration), it is kept.
  std::string loadedPath_;
  std::vector<std::string> loadedNames_;
  std::string lastSceneError_;  // said once while the same request keeps failing
  bool fullReported_ = false;   // "client refused" said once until a place is free again
};

}  // namespace sceneview
