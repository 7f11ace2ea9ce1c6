#include "CanvasServer.h"

#include <png.h>
#include <sys/socket.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "CanvasEdits.h"
#include "CanvasPage.h"
#include "Render.h"
#include "base/JFiles.h"
#include "base/JString.h"
#include "gfxkit/JCanvas.h"
#include "gfxkit/JGraphics.h"
#include "loom/JDiagram.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {
constexpr int kThreads = 16;         // answering HTTP, event streams included
constexpr int kFrameWaitMs = 100;    // a stream looks at the modules' repaints this often
constexpr int kKeepAliveSec = 15;    // a quiet stream sends a comment this often
constexpr int kMaxFaceSide = 2048;   // pixels of a face picture
constexpr size_t kMaxIdBytes = 256;  // of a module id the canvas gives
const char* kText = "text/plain; charset=utf-8";
const char* kJson = "application/json";

// Compares all of both, so that the time taken says nothing of where a guess went wrong.
bool sameSecret(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
  return diff == 0 && !b.empty();
}

std::string makeToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("run: --serve: no random numbers for the token");
    got += static_cast<size_t>(n);
  }
  static const char hex[] = "0123456789abcdef";
  std::string t;
  for (unsigned char b : bytes) {
    t += hex[b >> 4];
    t += hex[b & 15];
  }
  return t;
}

// The host part of a Host header or an origin's authority ("[::1]:8080" -> "[::1]").
std::string hostPart(const std::string& authority) {
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    return close == std::string::npos ? authority : authority.substr(0, close + 1);
  }
  const size_t colon = authority.rfind(':');
  return colon == std::string::npos ? authority : authority.substr(0, colon);
}

bool loopbackName(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return CanvasServer::isLoopback(host);
}

// An RGBA canvas as PNG bytes in memory.
bool encodePNG(const JCanvas& c, std::string& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t size) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), size);
      },
      nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(c.width()), static_cast<png_uint_32>(c.height()), 8,
               PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Asked for on every repaint, and sent over a local network at most: speed over size. A face is
  // flat colours and text, which the Sub filter and the fastest deflate with a small hash (no
  // large allocation to clear each time) pack well.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_compression_level(png, 1);
  png_set_compression_mem_level(png, 4);
  png_write_info(png, info);
  const auto& px = c.rgba();
  for (int y = 0; y < c.height(); ++y)
    png_write_row(png, const_cast<png_bytep>(px.data() + static_cast<size_t>(y) * static_cast<size_t>(c.width()) * 4));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// The body of an edit as JSON; EditError when it is none.
Json parseBody(const std::string& body) {
  try {
    return Json::parse(body);
  } catch (const Json::exception& e) {
    std::string why = e.what();
    const size_t bracket = why.find("] ");
    if (bracket != std::string::npos) why = why.substr(bracket + 2);
    throw EditError("the request is not JSON: " + why);
  }
}

// [x, y, width, height] from JSON, as a diagram file holds it.
JRect rectOf(const Json& j, const std::string& where) {
  long long v[4];
  JRect r;
  bool ok = j.is_array() && j.size() == 4;
  for (size_t i = 0; ok && i < 4; ++i) {
    ok = j[i].is_number_integer() && !(j[i].is_number_unsigned() && j[i].get<unsigned long long>() > 1ULL << 40);
    if (ok) v[i] = j[i].get<long long>();
  }
  if (!ok || !rectFromNumbers(v, r)) throw EditError(where + ": \"rect\" is not [x, y, width, height]");
  return r;
}

// A property value from JSON as the command line writes it: a number, a text, true or false,
// or a colour as [r, g, b].
std::string settingText(const Json& v, const std::string& where) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
  if (v.is_number()) return v.dump();
  if (v.is_array() && v.size() == 3 && v[0].is_number_integer() && v[1].is_number_integer() && v[2].is_number_integer())
    return v[0].dump() + "," + v[1].dump() + "," + v[2].dump();
  throw EditError(where + ": a value is a number, a text, true or false, or [r, g, b]");
}

}  // namespace

struct CanvasServer::Reply {
  int status = 200;
  std::string body;
  std::string type = kJson;
};

// Calls handed to the host thread. Shared with the tasks, which may outlive a request that
// stopped waiting; `closed` is set on the host thread, so a task that runs after it does nothing.
struct CanvasServer::Bridge {
  enum State { kWaiting, kRunning, kDone, kDropped };
  struct Call {
    State state = kWaiting;
    Reply reply;
  };
  std::mutex m;
  std::condition_variable done;
  bool closed = false;
};

bool CanvasServer::isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool CanvasServer::parseAddress(const std::string& text, Address& a) {
  std::string host = "127.0.0.1", port = text;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || host.find_first_of(" /[]") != std::string::npos) return false;
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  const int p = std::stoi(port);
  if (p > 65535) return false;
  a.host = host;
  a.port = p;
  return true;
}

CanvasServer::CanvasServer(JDiagram& d, std::string diagramPath, std::string classesJson)
    : d_(d),
      diagramPath_(std::move(diagramPath)),
      classesJson_(std::move(classesJson)),
      bridge_(std::make_shared<Bridge>()),
      server_(std::make_unique<httplib::Server>()) {
  for (JModuleObj* m : d_.modules()) events_.watch(m);
}

CanvasServer::~CanvasServer() { close(); }

void CanvasServer::valueSeen(JModuleObj& m, int output, const JWireValue& v) { events_.value(m.id(), output, v); }

void CanvasServer::start(const Address& a) {
  loopback_ = isLoopback(a.host);
  if (!loopback_) token_ = makeToken();
  server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  server_->set_payload_max_length(kMaxBody);
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  // One request per connection: an idle kept-alive connection would hold a thread, and the
  // server could not stop before it timed out.
  server_->set_keep_alive_max_count(1);
  server_->set_tcp_nodelay(true);  // a frame goes out at once, not after the page's last ack
  if (a.host.find(':') != std::string::npos) server_->set_address_family(AF_INET6);
  // The library's own options add SO_REUSEPORT, with which a second run would share a port that
  // is taken instead of being told so.
  server_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  routes();
  const std::string shown = a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host;
  errno = 0;
  int port = a.port;
  if (port == 0) {
    port = server_->bind_to_any_port(a.host);
    if (port <= 0) port = -1;
  } else if (!server_->bind_to_port(a.host, port)) {
    port = -1;
  }
  if (port < 0) {
    const std::string why = errno ? std::strerror(errno) : "not an address of this machine";
    throw std::runtime_error("run: --serve " + shown + ":" + std::to_string(a.port) + ": cannot listen there (" + why +
                             ")");
  }
  cookie_ = "loomwork-token-" + std::to_string(port);
  url_ = "http://" + shown + ":" + std::to_string(port) + "/" + (token_.empty() ? "" : "?token=" + token_);
  listener_.start(nullptr, [this] { server_->listen_after_bind(); });
  // A stop before the listener runs would be missed by the library, and it would listen on.
  for (int i = 0; i < 5000 && !server_->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void CanvasServer::close() {
  {
    std::lock_guard<std::mutex> g(bridge_->m);
    if (bridge_->closed) return;
    bridge_->closed = true;
  }
  bridge_->done.notify_all();
  events_.close();
  listener_.stop([this] { server_->stop(); });
}

CanvasServer::Reply CanvasServer::onHost(std::function<Reply()> work) {
  auto bridge = bridge_;
  auto call = std::make_shared<Bridge::Call>();
  {
    std::lock_guard<std::mutex> g(bridge->m);
    if (bridge->closed) return Reply{503, "the run has ended", kText};
  }
  d_.post([bridge, call, work = std::move(work)] {
    {
      std::lock_guard<std::mutex> g(bridge->m);
      if (bridge->closed || call->state == Bridge::kDropped) return;
      call->state = Bridge::kRunning;
    }
    Reply r;
    try {
      r = work();
    } catch (const EditError& e) {
      r = Reply{400, escapeForMessage(e.what()), kText};
    } catch (const std::exception& e) { r = Reply{500, escapeForMessage(e.what()), kText}; }
    {
      std::lock_guard<std::mutex> g(bridge->m);
      call->reply = std::move(r);
      call->state = Bridge::kDone;
    }
    bridge->done.notify_all();
  });
  std::unique_lock<std::mutex> lk(bridge->m);
  bridge->done.wait_for(lk, std::chrono::milliseconds(kHostWaitMs), [&] {
    return call->state == Bridge::kDone || (bridge->closed && call->state == Bridge::kWaiting);
  });
  // Once the host thread has begun, the answer comes: the work is never left half told.
  bridge->done.wait(lk, [&] { return call->state != Bridge::kRunning; });
  if (call->state == Bridge::kDone) return call->reply;
  call->state = Bridge::kDropped;
  return Reply{503, bridge->closed ? "the run has ended" : "the run is too busy to answer", kText};
}

void CanvasServer::routes() {
  using httplib::Request;
  using httplib::Response;
  auto send = [](Response& res, const Reply& r) {
    res.status = r.status;
    res.set_content(r.body, r.type);
  };
  auto refuse = [](Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(why, kText);
  };

  server_->set_pre_routing_handler([this, refuse](const Request& req, Response& res) {
    // The library compresses every text answer for a browser that accepts brotli, at brotli's
    // slowest setting: 40 ms of the run's CPU for the page's script and 70 ms for the class list,
    // on every load. Answers go to this machine or its network, where size does not matter, so
    // they are sent as they are. (The request is the library's own, not a constant.)
    const_cast<Request&>(req).headers.erase("Accept-Encoding");
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    if (!token_.empty()) {
      bool ok = req.has_param("token") && sameSecret(req.get_param_value("token"), token_);
      if (ok) {
        res.set_header("Set-Cookie", cookie_ + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict");
      } else {
        // The page's own files and requests carry the cookie it got with the token.
        const std::string cookies = req.get_header_value("Cookie");
        const std::string key = cookie_ + "=";
        size_t at = 0;
        while (!ok && (at = cookies.find(key, at)) != std::string::npos) {
          if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') {
            const size_t end = cookies.find(';', at);
            ok = sameSecret(cookies.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size()),
                            token_);
          }
          at += key.size();
        }
      }
      if (!ok) {
        refuse(res, 403, "a token is needed: open the address loomwork printed, with its ?token=");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    const std::string host = req.get_header_value("Host");
    if (loopback_ && !host.empty() && !loopbackName(hostPart(host))) {
      refuse(res, 403, "this server answers to its loopback address only");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD" && req.has_header("Origin") &&
        req.get_header_value("Origin") != "http://" + host) {
      refuse(res, 403, "an edit from another site's page is refused");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  auto page = [](const std::string& name) {
    return [name](const Request&, Response& res) {
      const CanvasPageFile* f = canvasPageFile(name);
      if (!f) {
        res.status = 404;
        res.set_content("the page has no " + name, kText);
        return;
      }
      res.set_content(reinterpret_cast<const char*>(f->data), f->size, f->type);
    };
  };
  server_->Get("/", page("index.html"));
  server_->Get("/index.html", page("index.html"));
  server_->Get("/canvas.js", page("canvas.js"));
  server_->Get("/canvas.css", page("canvas.css"));

  server_->Get("/api/classes", [this](const Request&, Response& res) { res.set_content(classesJson_, kJson); });
  server_->Get("/api/diagram",
               [this, send](const Request&, Response& res) { send(res, onHost([this] { return diagramReply(); })); });
  server_->Get("/api/ports",
               [this, send](const Request&, Response& res) { send(res, onHost([this] { return portsReply(); })); });
  server_->Get(R"(/api/modules/(.+)/face\.png)", [this, send](const Request& req, Response& res) {
    const std::string id = req.matches[1];
    auto face = std::make_shared<std::shared_ptr<JCanvas>>();
    Reply r = onHost([this, id, face] { return drawFace(id, *face); });
    if (r.status == 200 && *face) {
      r.type = "image/png";
      r.body.clear();
      if (!encodePNG(**face, r.body)) r = Reply{500, "the face could not be made into a PNG", kText};
    }
    send(res, r);
  });

  server_->Get("/api/events", [this, refuse](const Request&, Response& res) {
    if (events_.streams() >= kMaxStreams) {
      refuse(res, 503, "too many event streams are open");
      return;
    }
    auto cursor = std::make_shared<CanvasEvents::Cursor>(events_.join());
    auto lastWrite = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor, lastWrite](size_t, httplib::DataSink& sink) {
          std::string frame;
          if (!events_.nextFrame(*cursor, kFrameWaitMs, frame)) {
            sink.done();
            return true;
          }
          const auto now = std::chrono::steady_clock::now();
          // A comment now and then finds a page that has gone, and keeps proxies from timing out.
          if (frame.empty() && now - *lastWrite >= std::chrono::seconds(kKeepAliveSec)) frame = ":\n\n";
          if (frame.empty()) return true;
          *lastWrite = now;
          return sink.write(frame.data(), frame.size());
        },
        [this](bool) { events_.leave(); });
  });

  // --- edits: each answers with the diagram as it now stands, or 400 and why ---
  auto edit = [this, send](std::function<Reply(const Request&)> work) {
    return [this, send, work](const Request& req, Response& res) {
      send(res, onHost([work, &req] { return work(req); }));
    };
  };
  server_->Post(R"(/api/modules/(.+)/properties)",
                edit([this](const Request& req) { return setProperties(req.matches[1], req.body); }));
  server_->Post(R"(/api/modules/(.+)/rect)",
                edit([this](const Request& req) { return moveModule(req.matches[1], req.body); }));
  server_->Post("/api/modules", edit([this](const Request& req) { return placeModule(req.body); }));
  server_->Delete(R"(/api/modules/(.+))", [this, send](const Request& req, Response& res) {
    const std::string id = req.matches[1];
    JModuleObj* gone = nullptr;
    const Reply first = onHost([this, id, &gone] {
      gone = cutOff(id);
      return Reply{};
    });
    if (first.status != 200) return send(res, first);
    send(res, onHost([this, gone] { return destroy(gone); }));
  });
  server_->Post("/api/links", edit([this](const Request& req) { return changeLink(req.body, true); }));
  server_->Delete("/api/links", edit([this](const Request& req) { return changeLink(req.body, false); }));
  server_->Post("/api/save", edit([this](const Request& req) { return save(req.body); }));
}

// --- on the host thread ---

CanvasServer::Reply CanvasServer::diagramReply() {
  try {
    return Reply{200, d_.saveText(), kJson};
  } catch (const JDiagramError& e) { return Reply{500, escapeForMessage(e.what()), kText}; }
}

CanvasServer::Reply CanvasServer::edited() {
  events_.diagramChanged();
  return diagramReply();
}

CanvasServer::Reply CanvasServer::portsReply() {
  Json all = Json::object();
  for (JModuleObj* m : d_.modules()) {
    JComponent::Scope scope(m);
    auto ports = [m](bool inputs) {
      Json list = Json::array();
      const int count = inputs ? m->inputCount : m->outputCount;
      for (int i = 0; i < count; ++i) {
        // A wire's end where it attaches; a port without one as a wire would meet it.
        const JLinkSet& set = inputs ? m->inputSet(i) : m->outputSet(i);
        JLinkObj probe = inputs ? JLinkObj(nullptr, 0, m, i) : JLinkObj(m, i, nullptr, 0);
        JLinkObj& link = set.isEmpty() ? probe : *set[0];
        const JFPoint p = inputs ? m->inputPoint(i, link) : m->outputPoint(i, link);
        const JFRect a = inputs ? m->inputArea(i) : m->outputArea(i);
        const double x = m->rect.x, y = m->rect.y;
        list.push_back(Json{{"index", i},
                            {"tag", (inputs ? m->inputTag(i) : m->outputTag(i)).str()},
                            {"type", dataTypeName(inputs ? m->inputType(i) : m->outputType(i))},
                            {"point", {x + p.x, y + p.y}},
                            {"area", {x + a.x, y + a.y, a.width, a.height}}});
      }
      return list;
    };
    all[m->id()] = Json{{"inputs", ports(true)}, {"outputs", ports(false)}};
  }
  try {
    return Reply{200, all.dump() + "\n", kJson};
  } catch (const Json::exception&) { return Reply{500, "a port tag is not valid UTF-8", kText}; }
}

// The face as the diagram picture draws it: the module's paint, then its port marks. Drawn on
// the host thread; made into a PNG by the request's own thread.
CanvasServer::Reply CanvasServer::drawFace(const std::string& id, std::shared_ptr<JCanvas>& face) {
  JModuleObj* m = d_.find(id);
  if (!m) return Reply{404, escapeForMessage("unknown module id \"" + id + "\""), kText};
  JComponent::Scope scope(m);
  const int w = std::clamp(m->rect.width, 1, kMaxFaceSide), h = std::clamp(m->rect.height, 1, kMaxFaceSide);
  face = std::make_shared<JCanvas>(w, h, JColor(245, 245, 240));
  JGraphics g(*face);
  JRegion all(JRect(0, 0, w, h));
  m->paint(g, -m->rect.x, -m->rect.y, all, 1.0);
  g.setClip(all);
  drawPortMarks(g, *m, 0, 0);
  return Reply{};
}

CanvasServer::Reply CanvasServer::setProperties(const std::string& id, const std::string& body) {
  const Json j = parseBody(body);
  if (!j.is_object() || j.empty()) throw EditError("properties are sent as {\"NAME\": VALUE}");
  for (auto it = j.begin(); it != j.end(); ++it)
    applySetting(d_, id, it.key(), settingText(it.value(), id + "." + it.key()));
  startWaiting();
  return edited();
}

CanvasServer::Reply CanvasServer::placeModule(const std::string& body) {
  const Json j = parseBody(body);
  if (!j.is_object()) throw EditError("a module is sent as {\"class\": C, \"id\": ID, \"rect\": [x, y, w, h]}");
  const auto cls = j.find("class");
  if (cls == j.end() || !cls->is_string()) throw EditError("a module needs a \"class\" text");
  std::string id;
  const auto idIt = j.find("id");
  if (idIt != j.end()) {
    if (!idIt->is_string()) throw EditError("a module's \"id\" is a text");
    id = idIt->get<std::string>();
    if (id.size() > kMaxIdBytes) throw EditError("a module id is at most " + std::to_string(kMaxIdBytes) + " bytes");
  }
  const std::string where = "module \"" + id + "\"";
  JRect rect(0, 0, 80, 60);
  const auto r = j.find("rect");
  if (r != j.end()) rect = rectOf(*r, where);
  JModuleObj* m = nullptr;
  try {
    m = d_.create(cls->get<std::string>(), id, rect);
  } catch (const JDiagramError& e) { throw EditError(where + ": " + e.what()); }
  events_.watch(m);
  // Placed as on a canvas: it starts once it has what it needs (a Player its file).
  waiting_.push_back(m);
  startWaiting();
  if (modulesChanged) modulesChanged(nullptr);
  return edited();
}

void CanvasServer::startWaiting() {
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    JModuleObj* m = *it;
    JComponent::Scope scope(m);
    std::string why;
    if (m->prepareRun(why)) {
      m->startup();
      it = waiting_.erase(it);
    } else {
      ++it;
    }
  }
}

// In two turns of the host thread: first the module is cut off and stopped, then destroyed. A
// delivery it queued before it stopped may be in the batch the host thread is working through
// when the first turn runs; that batch is done before the second turn, posted after the first.
JModuleObj* CanvasServer::cutOff(const std::string& id) {
  JModuleObj* m = d_.find(id);
  if (!m) throw EditError("unknown module id \"" + id + "\"");
  if (std::find(leaving_.begin(), leaving_.end(), m) != leaving_.end()) return m;
  std::vector<JLinkObj*> attached;
  for (const auto& l : d_.links())
    if (l->from == m || l->to == m) attached.push_back(l.get());
  for (JLinkObj* l : attached) d_.unlink(l);
  {
    JComponent::Scope scope(m);
    m->close();
  }
  events_.unwatch(m);
  waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), m), waiting_.end());
  if (modulesChanged) modulesChanged(m);
  leaving_.push_back(m);
  return m;
}

CanvasServer::Reply CanvasServer::destroy(JModuleObj* m) {
  auto it = std::find(leaving_.begin(), leaving_.end(), m);
  if (it != leaving_.end()) {  // not removed by a second request already
    leaving_.erase(it);
    d_.remove(m);
  }
  return edited();
}

CanvasServer::Reply CanvasServer::moveModule(const std::string& id, const std::string& body) {
  JModuleObj* m = d_.find(id);
  if (!m) throw EditError("unknown module id \"" + id + "\"");
  m->rect = rectOf(parseBody(body), "module \"" + id + "\"");
  return edited();
}

CanvasServer::Reply CanvasServer::changeLink(const std::string& body, bool add) {
  const Json j = parseBody(body);
  const auto from = j.is_object() ? j.find("from") : j.end();
  const auto to = j.is_object() ? j.find("to") : j.end();
  if (!j.is_object() || from == j.end() || to == j.end() || !from->is_string() || !to->is_string())
    throw EditError("a link needs \"from\" and \"to\" texts");
  if (add) linkEnds(d_, from->get<std::string>(), to->get<std::string>());
  else unlinkEnds(d_, from->get<std::string>(), to->get<std::string>());
  return edited();
}

// Saving under another name is "save as": the diagram's relative paths are rewritten for the
// new folder, and later saves go there too.
CanvasServer::Reply CanvasServer::save(const std::string& body) {
  std::string path = diagramPath_;
  if (!body.empty()) {
    const Json j = parseBody(body);
    if (!j.is_object()) throw EditError("a save is sent as {} or {\"path\": P}");
    const auto p = j.find("path");
    if (p != j.end()) {
      if (!p->is_string() || p->get<std::string>().empty()) throw EditError("\"path\" is the file to write");
      path = p->get<std::string>();
    }
  }
  std::string why;
  if (!checkWritableFile(path, why)) throw EditError(path + ": error: " + why);
  moveRelativePaths(d_, path);
  try {
    d_.saveFile(path);
  } catch (const JDiagramError& e) { throw EditError(e.what()); }
  const std::string folder = fs::path(path).parent_path().string();
  d_.setFolder(folder);
  diagramPath_ = path;
  return diagramReply();
}
