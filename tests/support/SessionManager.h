#pragma once

#include <QString>

#include <memory>

namespace qm::test {

// A minimal X session manager (XSMP over ICE, libSM's manager side) served from the test's
// event loop: a program started with SESSION_MANAGER=Address() registers with it, and the test
// asks it to save (a checkpoint or the first step of a log-out), cancels the log-out, or tells
// it to die. Accepts any local client; one client at a time. Use on the event loop's thread.
class SessionManager {
 public:
  SessionManager();
  ~SessionManager();
  SessionManager(const SessionManager&) = delete;
  SessionManager& operator=(const SessionManager&) = delete;

  bool Ok() const;
  // The value of SESSION_MANAGER for the client.
  QString Address() const;

  bool Registered() const;
  // Save-yourself requests the client has answered as done.
  int SavesDone() const;

  // A checkpoint: the client saves and goes on.
  void Checkpoint();
  // The first step of a log-out: the client saves, expecting to be told to die.
  void LogOut();
  // The log-out was cancelled (another program refused it).
  void CancelLogOut();
  // The session ends: the client must quit.
  void Die();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qm::test
