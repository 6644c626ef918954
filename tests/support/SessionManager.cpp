#include "support/SessionManager.h"

#include <QSocketNotifier>

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace qm::test {

struct SessionManager::State {
  int count = 0;
  IceListenObj* listeners = nullptr;
  QString address;
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  std::vector<IceConn> connections;  // open ones
  SmsConn client = nullptr;
  bool registered = false;
  int savesDone = 0;
  bool ok = false;
};

namespace {

using State = SessionManager::State;

Bool AnyHost(char*) {
  return True;
}

Status RegisterClient(SmsConn conn, SmPointer data, char* previousId) {
  auto* state = static_cast<State*>(data);
  std::free(previousId);
  char* id = SmsGenerateClientID(conn);
  const Status status = SmsRegisterClientReply(conn, id);
  std::free(id);
  state->registered = true;
  // The protocol asks a new client for a first save right after it registered.
  SmsSaveYourself(conn, SmSaveLocal, False, SmInteractStyleNone, False);
  return status;
}

void InteractRequest(SmsConn conn, SmPointer, int) {
  SmsInteract(conn);
}
void InteractDone(SmsConn, SmPointer, Bool) {}
void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void SaveYourselfPhase2Request(SmsConn conn, SmPointer) {
  SmsSaveYourselfPhase2(conn);
}
void SaveYourselfDone(SmsConn, SmPointer data, Bool) {
  ++static_cast<State*>(data)->savesDone;
}
// Ends a connection and the client on it, whoever ended it.
void Drop(State* state, IceConn ice) {
  if (state->client && SmsGetIceConnection(state->client) == ice) {
    SmsCleanUp(state->client);
    state->client = nullptr;
    state->registered = false;
  }
  std::erase(state->connections, ice);
  IceSetShutdownNegotiation(ice, False);
  IceCloseConnection(ice);
}

void CloseConnection(SmsConn conn, SmPointer data, int count, char** reasons) {
  SmFreeReasons(count, reasons);
  Drop(static_cast<State*>(data), SmsGetIceConnection(conn));
}
void SetProperties(SmsConn, SmPointer, int count, SmProp** props) {
  for (int i = 0; i < count; ++i) SmFreeProperty(props[i]);
  std::free(props);
}
void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
  for (int i = 0; i < count; ++i) std::free(names[i]);
  std::free(names);
}
void GetProperties(SmsConn conn, SmPointer) {
  SmsReturnProperties(conn, 0, nullptr);
}

// The state of the one manager; libSM takes a single function for new clients.
State* gState = nullptr;

Status NewClient(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks,
                 char** failure) {
  *failure = nullptr;
  gState->client = conn;
  SmPointer data = gState;
  callbacks->register_client = {RegisterClient, data};
  callbacks->interact_request = {InteractRequest, data};
  callbacks->interact_done = {InteractDone, data};
  callbacks->save_yourself_request = {SaveYourselfRequest, data};
  callbacks->save_yourself_phase2_request = {SaveYourselfPhase2Request, data};
  callbacks->save_yourself_done = {SaveYourselfDone, data};
  callbacks->close_connection = {CloseConnection, data};
  callbacks->set_properties = {SetProperties, data};
  callbacks->delete_properties = {DeleteProperties, data};
  callbacks->get_properties = {GetProperties, data};
  *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
          SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
          SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
          SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
  return 1;
}

// Reads what the client sends on a connection.
void Serve(State* state, IceConn ice) {
  state->connections.push_back(ice);
  auto notifier =
      std::make_unique<QSocketNotifier>(IceConnectionNumber(ice), QSocketNotifier::Read);
  QSocketNotifier* raw = notifier.get();
  QObject::connect(raw, &QSocketNotifier::activated, raw, [state, ice, raw] {
    if (std::find(state->connections.begin(), state->connections.end(), ice) ==
        state->connections.end()) {
      raw->setEnabled(false);
      return;
    }
    if (IceProcessMessages(ice, nullptr, nullptr) == IceProcessMessagesIOError) {
      raw->setEnabled(false);
      Drop(state, ice);
    }
  });
  state->notifiers.push_back(std::move(notifier));
}

}  // namespace

SessionManager::SessionManager() : state_(std::make_unique<State>()) {
  gState = state_.get();
  // A message to a client that has gone must fail, not end the test program.
  std::signal(SIGPIPE, SIG_IGN);
  char error[256] = {};
  static const bool initialised =
      SmsInitialize("Quillmark tests", "1.0", NewClient, nullptr, AnyHost, sizeof error, error);
  if (!initialised ||
      !IceListenForConnections(&state_->count, &state_->listeners, sizeof error, error))
    return;
  for (int i = 0; i < state_->count; ++i) {
    IceListenObj listener = state_->listeners[i];
    IceSetHostBasedAuthProc(listener, AnyHost);
    auto notifier = std::make_unique<QSocketNotifier>(IceGetListenConnectionNumber(listener),
                                                      QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this, listener] {
      IceAcceptStatus status = IceAcceptSuccess;
      IceConn ice = IceAcceptConnection(listener, &status);
      if (!ice || status != IceAcceptSuccess) return;
      // The connection set-up runs over several messages.
      while (IceConnectionStatus(ice) == IceConnectPending) {
        if (IceProcessMessages(ice, nullptr, nullptr) == IceProcessMessagesIOError) break;
      }
      if (IceConnectionStatus(ice) == IceConnectAccepted) {
        Serve(state_.get(), ice);
      } else {
        IceSetShutdownNegotiation(ice, False);
        IceCloseConnection(ice);
      }
    });
    state_->notifiers.push_back(std::move(notifier));
  }
  char* ids = IceComposeNetworkIdList(state_->count, state_->listeners);
  state_->address = QString::fromLocal8Bit(ids);
  std::free(ids);
  state_->ok = true;
}

SessionManager::~SessionManager() {
  state_->notifiers.clear();
  while (!state_->connections.empty()) Drop(state_.get(), state_->connections.back());
  if (state_->listeners) IceFreeListenObjs(state_->count, state_->listeners);
  gState = nullptr;
}

bool SessionManager::Ok() const {
  return state_->ok;
}

QString SessionManager::Address() const {
  return state_->address;
}

bool SessionManager::Registered() const {
  return state_->client && state_->registered;
}

int SessionManager::SavesDone() const {
  return state_->savesDone;
}

void SessionManager::Checkpoint() {
  if (state_->client)
    SmsSaveYourself(state_->client, SmSaveBoth, False, SmInteractStyleNone, False);
}

void SessionManager::LogOut() {
  if (state_->client) SmsSaveYourself(state_->client, SmSaveBoth, True, SmInteractStyleNone, False);
}

void SessionManager::CancelLogOut() {
  if (state_->client) SmsShutdownCancelled(state_->client);
}

void SessionManager::Die() {
  if (state_->client) SmsDie(state_->client);
}

}  // namespace qm::test
