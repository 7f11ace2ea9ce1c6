#include "platform/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool CControlClient::Place(const CCallRequest& request, std::string* error, const std::string& socketPath) {
  Close();
  m_pending.clear();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) {
    *error = "control socket path too long: " + socketPath;
    return false;
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  m_fd = fd;
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = "cannot reach the telephony provider at " + socketPath + ": " + std::strerror(errno);
    Close();
    return false;
  }
  const std::string line = FormatCallRequest(request) + "\n";
  if (::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    // A provider that refuses at once may have said why before it closed: that is the answer.
    char block[512];
    const ssize_t n = ::recv(m_fd, block, sizeof block, MSG_DONTWAIT);
    if (n > 0) m_pending.assign(block, static_cast<size_t>(n));
    if (m_pending.find('\n') != std::string::npos) return true;
    *error = "the telephony provider closed the connection";
    Close();
    return false;
  }
  return true;
}

bool CControlClient::NextLine(std::string* line, int ms) {
  for (;;) {
    const size_t end = m_pending.find('\n');
    if (end != std::string::npos) {
      *line = m_pending.substr(0, end);
      m_pending.erase(0, end + 1);
      return true;
    }
    if (m_fd < 0 || m_pending.size() > kMostControlLine) return false;
    pollfd p{m_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char block[512];
    const ssize_t n = ::recv(m_fd, block, sizeof block, 0);
    if (n <= 0) {
      Close();
      return false;
    }
    m_pending.append(block, static_cast<size_t>(n));
  }
}

void CControlClient::Close() {
  const int fd = m_fd.exchange(-1);
  if (fd >= 0) ::close(fd);
}

void CControlClient::HangUp() {
  const int fd = m_fd.load();
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

CSimulatedCall::CSimulatedCall(const CCallRequest& request, int lineWaitMs) {
  std::string error;
  if (!m_client.Place(request, &error)) {
    m_lines.push_back("error " + error);
    m_done = true;
    return;
  }
  m_reader.start(nullptr, [this, lineWaitMs] {
    std::string line;
    while (m_client.NextLine(&line, lineWaitMs)) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_lines.push_back(line);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
  });
}

CSimulatedCall::~CSimulatedCall() {
  m_reader.stop([this] { m_client.HangUp(); });
}

std::vector<std::string> CSimulatedCall::Lines() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}

bool CSimulatedCall::Has(const std::string& line) const {
  for (const auto& l : Lines())
    if (l == line) return true;
  return false;
}

bool CSimulatedCall::Done() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_done;
}
