#include "link/DigitLink.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

const char* const kLoopbackHost = "localhost";
const char* const kDefaultHost = "localhost";

namespace {

constexpr int kConnectTries = 10;

// The link as the process holds it between digits.
struct LinkState {
  std::unique_ptr<CDigitSocket> socket;  // absent while no link exists
  CDigitTrace trace;
  std::string host;
};

LinkState& Link() {
  static LinkState state;
  return state;
}

std::string PathOf(const char* name) {
  const std::string& folder = DigitLinkSetup().folder;
  return folder.empty() ? std::string(name) : folder + "/" + name;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void DropSocket(LinkState& link) {
  link.socket->Close();
  link.socket.reset();
}

}  // namespace

CDigitLinkSetup& DigitLinkSetup() {
  static CDigitLinkSetup setup;
  return setup;
}

const CDigitSocket* DigitLinkSocket() { return Link().socket.get(); }

std::string ReadLoomworkHost(const std::string& path, CDigitTrace& trace) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) {
    trace.Write("No connect.txt file\n");
    return kLoopbackHost;
  }
  char line[kMaxHostLine + 1] = {0};
  if (!std::fgets(line, sizeof line, f)) line[0] = 0;
  std::fclose(f);
  size_t length = std::strlen(line);
  for (int i = 0; i < 2 && length > 0 && static_cast<unsigned char>(line[length - 1]) < 32; ++i)
    line[--length] = 0;
  return length > 0 ? std::string(line, length) : std::string(kDefaultHost);
}

void SendDigitToLoomwork(char c) {
  LinkState& link = Link();
  if (!link.trace.IsOpen()) link.trace.Open(PathOf("test.txt"));
  link.trace.Write("Send digit %c to loomwork\n", c);

  // A receiver that restarted has closed our connection: connect anew rather than send this
  // digit into the old one, where it would be lost.
  if (link.socket && link.socket->ReceiverHasClosed()) {
    link.trace.Write("Loomwork closed the connection\n");
    DropSocket(link);
  }

  if (!link.socket) {
    const CDigitLinkSetup& setup = DigitLinkSetup();
    CDigitSocket::Pause pause = setup.pause ? setup.pause : CDigitSocket::Pause(Sleep);
    link.socket = std::make_unique<CDigitSocket>(*setup.sockets, pause, link.trace, setup.port);
    link.host = ReadLoomworkHost(PathOf("connect.txt"), link.trace);
  }
  link.trace.Write("host is '%s'\n", link.host.c_str());

  int result = link.socket->Connect(link.host.c_str(), kConnectTries);
  link.trace.Write("connect result is %d\n", result);

  // A connection that broke is given up, so that the next digit makes a new one. A socket that
  // never connected (no receiver listening) stays: the next digit tries Connect on it again.
  const bool wasConnected = link.socket->IsConnected();
  const unsigned char message[4] = {'a', 'b', static_cast<unsigned char>(c), 0};
  if (link.socket->Send(message, 4) < 0 && wasConnected) DropSocket(link);
}

void EndDataToLoomwork() {
  LinkState& link = Link();
  link.trace.Write("endDataToLoomwork\n");
  if (link.socket) {
    link.trace.Write("Deleting loomwork SOCKET!");
    DropSocket(link);
  }
  link.trace.Close();
}
