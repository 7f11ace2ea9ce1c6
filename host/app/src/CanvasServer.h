#pragma once
// `loomwork run --serve [HOST:]PORT`: the canvas in the browser, served while the diagram runs.
//
// HTTP threads never touch the diagram: each request that reads or edits it hands its work to
// the host thread (JDiagram::post) and waits for the answer, so the modules see every call on
// the host thread as they always do. What the run does reaches the pages through CanvasEvents,
// which the host thread only records into.
//
// Safety: on a loopback address the server answers only requests that name a loopback host
// (a page of another site that rebinds its name to 127.0.0.1 gets nothing); bound elsewhere,
// every request must carry the token made at start (?token=, or the cookie the page gets with
// it). An edit whose Origin is not the page's own is refused either way.
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CanvasEvents.h"
#include "base/JWorker.h"

class JCanvas;
class JDiagram;
class JModuleObj;
class JWireValue;
namespace httplib {
class Server;
}

class CanvasServer {
public:
  static constexpr int kMaxStreams = 8;         // event streams open at once
  static constexpr int kHostWaitMs = 10000;     // a request waits this long for the host thread
  static constexpr size_t kMaxBody = 1u << 20;  // of a request

  struct Address {
    std::string host = "127.0.0.1";
    int port = 0;
  };
  // "[HOST:]PORT", HOST a name or address ("[::1]" for IPv6); false when it is not one.
  static bool parseAddress(const std::string& text, Address& a);
  static bool isLoopback(const std::string& host);

  // diagramPath: where POST /api/save writes by default. classesJson: the text of
  // `loomwork modules --json`.
  CanvasServer(JDiagram& d, std::string diagramPath, std::string classesJson);
  ~CanvasServer();
  CanvasServer(const CanvasServer&) = delete;
  CanvasServer& operator=(const CanvasServer&) = delete;

  // Binds and starts answering (port 0: one the system picks). Throws std::runtime_error with
  // one line when it cannot listen there.
  void start(const Address& a);
  // "http://HOST:PORT/", with "?token=..." when one is needed.
  const std::string& url() const { return url_; }

  // --- the host thread ---
  void valueSeen(JModuleObj& m, int output, const JWireValue& v);
  void monitorLine(const std::string& line) { events_.monitorLine(line); }
  // Called when the canvas placed a module (null) or is about to destroy one (that one): the
  // run's list of players changes.
  std::function<void(JModuleObj* leaving)> modulesChanged;
  // The run is over: edits are refused from now on, streams end, and the server stops.
  void close();

  CanvasEvents& events() { return events_; }

private:
  struct Reply;
  struct Bridge;
  Reply onHost(std::function<Reply()> work);
  void routes();
  Reply diagramReply();
  Reply portsReply();
  Reply drawFace(const std::string& id, std::shared_ptr<JCanvas>& face);
  Reply edited();
  Reply placeModule(const std::string& body);
  JModuleObj* cutOff(const std::string& id);
  Reply destroy(JModuleObj* m);
  Reply moveModule(const std::string& id, const std::string& body);
  Reply setProperties(const std::string& id, const std::string& body);
  Reply changeLink(const std::string& body, bool add);
  Reply save(const std::string& body);
  void startWaiting();  // modules placed by the canvas that could not start yet

  JDiagram& d_;
  std::string diagramPath_;
  std::string classesJson_;
  CanvasEvents events_;
  std::shared_ptr<Bridge> bridge_;
  std::unique_ptr<httplib::Server> server_;
  JWorker listener_;
  std::string url_, token_, cookie_;
  bool loopback_ = true;
  std::vector<JModuleObj*> waiting_;  // host thread only
  std::vector<JModuleObj*> leaving_;  // cut off, to be destroyed in the next turn
};
