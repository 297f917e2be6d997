#include "platform/fake/fake_threads.h"

#include <atomic>
#include <memory>

#include "platform/fake/fake.h"

namespace fake {

namespace {

std::atomic<int> g_running{0};
thread_local bool t_created = false;

// A thread's handle. Closing it leaves the thread running on its own, as on
// Windows; only WaitForSingleObject waits for it.
struct CreatedThread : HandleObject {
  std::thread thread;
  ~CreatedThread() override {
    if (thread.joinable()) thread.detach();
    W().threads.openHandles--;
  }
};

}  // namespace

int RunningThreads() { return g_running.load(); }
bool OnCreatedThread() { return t_created; }

// The wait of WaitForSingleObject on a thread handle, or WAIT_FAILED when
// handle is not one (called by the fake's WaitForSingleObject).
bool WaitForCreatedThread(HandleObject* object) {
  auto* created = dynamic_cast<CreatedThread*>(object);
  if (!created) return false;
  if (created->thread.joinable()) created->thread.join();
  return true;
}

}  // namespace fake

using fake::W;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId) {
  fake::NoteCall();
  if (W().threads.failCreate) {
    W().lastError = *W().threads.failCreate;
    return nullptr;
  }
  auto created = std::make_unique<fake::CreatedThread>();
  fake::g_running++;
  created->thread = std::thread([start, parameter] {
    fake::t_created = true;
    start(parameter);
    fake::g_running--;
  });
  W().threads.created++;
  W().threads.openHandles++;
  if (threadId) *threadId = 2000 + W().threads.created;
  return fake::AddHandle(std::move(created));
}
