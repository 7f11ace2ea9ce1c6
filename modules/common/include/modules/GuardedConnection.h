#pragma once
// The connection of a module whose own thread owns a socket that the host thread may close, or
// copy when it clones the module while the thread runs.
//
// GuardedFields<Fields>: a module's fields that both threads touch, under one lock. The lock is
// mutable, so a const module (the one being cloned) is locked without a cast. A copy takes the
// other's fields under the other's lock only, and an assignment then sets its own under its own:
// no thread ever holds two of these locks, so copies in both directions cannot deadlock.
//
// GuardedConnection<Extra>: the same for the sockets (a listening one for modules that accept,
// the connected one) and the streams on the connected one, with Extra's fields beside them.
//   - The owning thread installs a connection under the lock (listen/accept, attach) and reads
//     `input` without it: a read blocks, and close() must be able to get in meanwhile.
//   - close(), from any thread, closes both sockets under the lock: a read blocked on `input`
//     throws at once, an accept() waiting on `server` returns false.
//   - A copy has the sockets' settings and Extra's fields, never the connection: it is closed,
//     its streams unattached (an assigned one's stay on its closed connection), and it listens
//     nowhere.
// The lock is the host's re-entrant JCriticalSection: a module holds it around a check and the
// operation that must follow it (say, attach only while the thread should still run).
#include <atomic>
#include <utility>

#include "base/JException.h"
#include "base/JSocket.h"
#include "base/JThread.h"

template <class Fields>
class GuardedFields : public Fields {
public:
  using Lock = JCriticalSection::Lock;

  GuardedFields() = default;
  GuardedFields(const GuardedFields& o) : GuardedFields(o, Lock(o.lock)) {}
  GuardedFields& operator=(const GuardedFields& o) {
    if (this == &o) return *this;
    const GuardedFields taken(o);
    Lock mine(lock);
    Fields::operator=(taken);
    return *this;
  }
  ~GuardedFields() = default;

  // f(fields) with the lock held: line.locked([](auto& l) { return l.address; }). Whatever f
  // returns must not refer into the fields.
  template <class F>
  auto locked(F&& f) -> decltype(f(std::declval<Fields&>())) {
    Lock guard(lock);
    return f(static_cast<Fields&>(*this));
  }
  template <class F>
  auto locked(F&& f) const -> decltype(f(std::declval<const Fields&>())) {
    Lock guard(lock);
    return f(static_cast<const Fields&>(*this));
  }

  mutable JCriticalSection lock;

private:
  // The temporary lock lives until this constructor has returned.
  GuardedFields(const GuardedFields& o, const Lock&) : Fields(static_cast<const Fields&>(o)) {}
};

struct NoExtraFields {};

// The sockets and streams of a GuardedConnection (see there); Extra's fields copy with them.
template <class Extra>
struct ConnectionFields : Extra {
  ConnectionFields() = default;
  ConnectionFields(const ConnectionFields& o) : Extra(o), server(o.server), socket(o.socket) {}
  // Settings only: this one's listening socket and connection are closed. The streams are left
  // on the closed connection (they throw from now on), since a thread of this one may still be
  // inside a read; the next accept or attach replaces them.
  ConnectionFields& operator=(const ConnectionFields& o) {
    if (this == &o) return *this;
    Extra::operator=(o);
    server = o.server;
    socket = o.socket;
    boundPort.store(-1);
    return *this;
  }
  ~ConnectionFields() = default;

  JServerSocket server;  // for modules that accept their connection
  JSocket socket;        // the connection
  JSocketInputStream input;
  JSocketOutputStream output;
  std::atomic<int> boundPort{-1};  // where server listens, -1 while it does not
};

template <class Extra = NoExtraFields>
class GuardedConnection : public GuardedFields<ConnectionFields<Extra>> {
public:
  using Lock = JCriticalSection::Lock;

  // A new listening socket on port (0: one the system picks) in place of the old one; false when
  // it cannot listen (server.lastError() says why).
  bool listen(int port, int backlog) {
    Lock guard(this->lock);
    this->server = JServerSocket(port);
    if (!this->server.listen(backlog)) return false;
    this->boundPort.store(this->server.getLocalPort());
    return true;
  }
  // Takes one waiting client, if any, as the connection, with both streams on it, and stops
  // listening: one client at a time.
  bool accept() {
    Lock guard(this->lock);
    if (!this->server.accept(this->socket)) return false;
    this->server.close();
    this->boundPort.store(-1);
    attachStreams();
    return true;
  }
  // Installs a socket that the owning thread connected, with both streams on it.
  void attach(JSocket&& connected) {
    Lock guard(this->lock);
    this->socket = std::move(connected);
    attachStreams();
  }
  // Closes the connection and the listening socket; callable from any thread, more than once.
  void close() {
    Lock guard(this->lock);
    try {
      this->socket.close();
      this->server.close();
    } catch (const JException&) {}
    this->boundPort.store(-1);
  }
  // The port listened on now, -1 while not listening.
  int listeningPort() const { return this->boundPort.load(); }

private:
  void attachStreams() {
    this->input = JSocketInputStream(this->socket);
    this->output = JSocketOutputStream(this->socket);
  }
};
