#pragma once
// Helpers for the component tests: connections to the throwaway server and
// one-line statements run through the components themselves.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "TestServer.h"
#include "components/MyAccess.h"

namespace componenttest {

using namespace da;

// A closed connection to the test server's database, named `name`.
inline std::unique_ptr<TMyConnection> NewConnection(const testsupport::TestServerInfo& s,
                                                    const std::string& name = "cn") {
  auto cn = std::make_unique<TMyConnection>();
  cn->SetName(name);
  cn->SetLoginPrompt(false);
  cn->SetServer(s.host);
  cn->SetPort(s.port);
  cn->SetUsername(s.user);
  cn->SetPassword(s.password);
  cn->SetDatabase(s.database);
  return cn;
}

// Runs a statement without rows on `cn`.
inline void Exec(TMyConnection& cn, const std::string& sql) {
  TMyQuery q;
  q.SetConnection(&cn);
  q.SetParamCheck(false);
  q.SetSQLText(sql);
  q.Execute();
}

// The first column of the first row, as text ("NULL" for null).
inline std::string Scalar(TMyConnection& cn, const std::string& sql) {
  TMyQuery q;
  q.SetConnection(&cn);
  q.SetParamCheck(false);
  q.SetSQLText(sql);
  q.Open();
  if (q.HasNoRows()) return "<no rows>";
  const TField& f = q.Fields(0);
  return f.IsNull() ? std::string("NULL") : f.AsString();
}

// Kills the session of `victim` from `killer` and waits until the server
// has let it go.
inline void KillSession(TMyConnection& killer, uint64_t threadId) {
  const std::string id = std::to_string(threadId);
  Exec(killer, "KILL " + id);
  for (int i = 0; i < 200; ++i) {
    if (Scalar(killer, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + id) == "0") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ADD_FAILURE() << "session " << id << " still there after KILL";
}

// The message of the exception `body` raises, checked to be of type E.
template <typename E, typename F>
std::string MessageOf(F&& body) {
  try {
    body();
  } catch (const E& e) {
    return e.Message();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return {};
  }
  ADD_FAILURE() << "no exception";
  return {};
}

}  // namespace componenttest
