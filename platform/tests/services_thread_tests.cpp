#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "platform/thread.h"
#include "services_fixture.h"

namespace {

struct Shared {
  CRITICAL_SECTION cs;
  HANDLE go;
  std::atomic<int> stage{0};
  BOOL triedWhileHeld = TRUE;
};

DWORD WINAPI tryFromOtherThread(LPVOID p) {
  auto* s = static_cast<Shared*>(p);
  s->triedWhileHeld = TryEnterCriticalSection(&s->cs);
  SetEvent(s->go);
  EnterCriticalSection(&s->cs);  // blocks until the main thread has left
  s->stage = 2;
  LeaveCriticalSection(&s->cs);
  return 7;
}

DWORD WINAPI returnParam(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

TEST(ServicesThread, CriticalSectionIsReentrantAndExcludesOthers) {
  Shared s;
  InitializeCriticalSection(&s.cs);
  s.go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  EnterCriticalSection(&s.cs);
  EXPECT_TRUE(TryEnterCriticalSection(&s.cs));  // same thread: nests
  HANDLE t = CreateThread(nullptr, 0, tryFromOtherThread, &s, 0, nullptr);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(WaitForSingleObject(s.go, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(s.triedWhileHeld);
  LeaveCriticalSection(&s.cs);
  // Still held once: the other thread cannot have entered.
  EXPECT_EQ(s.stage.load(), 0);
  LeaveCriticalSection(&s.cs);
  ASSERT_EQ(WaitForSingleObject(t, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(s.stage.load(), 2);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(t);
  CloseHandle(s.go);
  DeleteCriticalSection(&s.cs);
}

TEST(ServicesThread, EventsResetAsAskedAndHandlesAreChecked) {
  HANDLE autoEv = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // consumed
  HANDLE manual = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // Named events are shared in the process.
  HANDLE a = CreateEvent(nullptr, TRUE, FALSE, u"svc-ev");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE b = CreateEvent(nullptr, TRUE, FALSE, u"svc-ev");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  for (HANDLE h : {autoEv, manual, a, b}) EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(autoEv));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_FAILED);
}

TEST(ServicesThread, SuspendedThreadRunsOnResume) {
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, returnParam, reinterpret_cast<LPVOID>(uintptr_t{42}), CREATE_SUSPENDED, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(t, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ResumeThread(t);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 42u);
  CloseHandle(t);
}

TEST(ServicesThread, LastErrorIsPerThread) {
  SetLastError(1234);
  HANDLE t = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { SetLastError(99); return GetLastError(); }, nullptr, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 99u);
  EXPECT_EQ(GetLastError(), 1234u);
  CloseHandle(t);
}

using ServicesMutex = ServicesTest;

TEST_F(ServicesMutex, NamedMutexIsSeenByAnotherProcess) {
  HANDLE m = CreateMutex(nullptr, FALSE, u"Orvalo");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  auto childSees = [] {
    pid_t child = fork();
    if (child == 0) {
      HANDLE c = CreateMutex(nullptr, FALSE, u"Orvalo");
      _exit(c == nullptr ? 2 : GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(childSees(), 1);
  // Within the process too.
  HANDLE again = CreateMutex(nullptr, FALSE, u"Orvalo");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(again);
  EXPECT_EQ(childSees(), 1);  // one handle still open
  CloseHandle(m);
  EXPECT_EQ(childSees(), 0);  // gone with its last handle
  // Other names are independent.
  HANDLE other = CreateMutex(nullptr, FALSE, u"Orvalo/other name");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(other);
}

TEST_F(ServicesMutex, OwnershipNestsPerThread) {
  HANDLE m = CreateMutex(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  HANDLE t = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(p), 0); }, m, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(t);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  CloseHandle(m);
}

TEST(ServicesThread, CommandLineCanBeSetAndRead) {
  std::u16string before = GetCommandLine();
  EXPECT_FALSE(before.empty());
  platform::setCommandLine(u"\"/opt/o l/olvaro\" /hidden");
  EXPECT_EQ(std::u16string(GetCommandLine()), u"\"/opt/o l/olvaro\" /hidden");
  platform::setCommandLine(before);
}

TEST_F(ServicesMutex, FreshFoldersAndOverlongNames) {
  // A first start: the configuration folder does not exist yet.
  setenv("OLVARO_HOME", (home_ + "/not/yet/there").c_str(), 1);
  HANDLE m = CreateMutex(nullptr, FALSE, u"Orvalo");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(m);
  std::u16string longName(300, u'x');
  EXPECT_EQ(CreateMutex(nullptr, FALSE, longName.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}
