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

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

CDigitLink::CDigitLink(CDigitLinkSetup setup) : m_setup(std::move(setup)) {}

CDigitLink::~CDigitLink() {
  if (m_socket) DropSocket();
  m_trace.Close();
}

std::string CDigitLink::PathOf(const char* name) const {
  return m_setup.folder.empty() ? std::string(name) : m_setup.folder + "/" + name;
}

void CDigitLink::DropSocket() {
  m_socket->Close();
  m_socket.reset();
}

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
  for (int i = 0; i < 2 && length > 0 && static_cast<unsigned char>(line[length - 1]) < 32; ++i) line[--length] = 0;
  return length > 0 ? std::string(line, length) : std::string(kDefaultHost);
}

void CDigitLink::SendDigitToLoomwork(char c) {
  if (!m_trace.IsOpen()) m_trace.Open(PathOf("test.txt"));
  m_trace.Write("Send digit %c to loomwork\n", c);

  // A receiver that restarted has closed our connection: connect anew rather than send this
  // digit into the old one, where it would be lost.
  if (m_socket && m_socket->ReceiverHasClosed()) {
    m_trace.Write("Loomwork closed the connection\n");
    DropSocket();
  }

  if (!m_socket) {
    CDigitSocket::Pause pause = m_setup.pause ? m_setup.pause : CDigitSocket::Pause(Sleep);
    m_socket = std::make_unique<CDigitSocket>(*m_setup.sockets, pause, m_trace, m_setup.port);
    m_host = ReadLoomworkHost(PathOf("connect.txt"), m_trace);
  }
  m_trace.Write("host is '%s'\n", m_host.c_str());

  int result = m_socket->Connect(m_host.c_str(), kConnectTries);
  m_trace.Write("connect result is %d\n", result);

  // A connection that broke is given up, so that the next digit makes a new one. A socket that
  // never connected (no receiver listening) stays: the next digit tries Connect on it again.
  const bool wasConnected = m_socket->IsConnected();
  const unsigned char message[4] = {'a', 'b', static_cast<unsigned char>(c), 0};
  if (m_socket->Send(message, 4) < 0 && wasConnected) DropSocket();
}

void CDigitLink::EndDataToLoomwork() {
  m_trace.Write("endDataToLoomwork\n");
  if (m_socket) {
    m_trace.Write("Deleting loomwork SOCKET!");
    DropSocket();
  }
  m_trace.Close();
}
