#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/files.h"
#include "platform/shell.h"
#include "services_fixture.h"

namespace {

class ServicesFiles : public ServicesTest {
 protected:
  std::u16string path(const std::string& name) { return wide(home_ + "\\" + name); }
  void make(const std::string& name, const std::string& content) {
    std::ofstream(home_ + "/" + name, std::ios::binary) << content;
  }
  std::vector<std::string> list(const std::string& pattern) {
    std::vector<std::string> out;
    WIN32_FIND_DATA fd;
    HANDLE h = FindFirstFile(path(pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do out.push_back(platform::narrow(fd.cFileName));
    while (FindNextFile(h, &fd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return out;
  }
};

}  // namespace

TEST_F(ServicesFiles, PatternsMatchLikeTheDevice) {
  make("connection.dll", "x");
  make("Panorel.DLL", "x");
  make("api.dll.old", "x");
  make("readme", "x");
  make("a.b.dll", "x");
  EXPECT_EQ(list("*.dll"), (std::vector<std::string>{"Panorel.DLL", "a.b.dll", "connection.dll"}));
  EXPECT_EQ(list("*.old"), (std::vector<std::string>{"api.dll.old"}));
  EXPECT_EQ(list("*.*").size(), 5u);
  EXPECT_EQ(list("re?dme"), (std::vector<std::string>{"readme"}));
  EXPECT_EQ(list("readme"), (std::vector<std::string>{"readme"}));
  WIN32_FIND_DATA fd;
  EXPECT_EQ(FindFirstFile(path("*.exe").c_str(), &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFile(wide(home_ + "/nowhere/*").c_str(), &fd), INVALID_HANDLE_VALUE);
  HANDLE h = FindFirstFile(path("readme").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.nFileSizeLow, 1u);
  EXPECT_EQ(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(CloseHandle(h));  // a find handle closes with FindClose only
  EXPECT_TRUE(FindClose(h));
}

TEST_F(ServicesFiles, ReadWriteSeekAndTruncate) {
  HANDLE f = CreateFile(path("data.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(f, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(GetFileSize(f, nullptr), 11u);
  EXPECT_EQ(SetFilePointer(f, -5, nullptr, FILE_END), 6u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(f, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 5u);  // end of file: success with fewer bytes
  EXPECT_STREQ(buf, "world");
  ASSERT_TRUE(ReadFile(f, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(f, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  SetFilePointer(f, 5, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(f));
  EXPECT_EQ(GetFileSize(f, nullptr), 5u);
  CloseHandle(f);
  EXPECT_EQ(CreateFile(path("data.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  HANDLE ro = CreateFile(path("data.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(WriteFile(ro, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(ro);
  struct stat st;
  ASSERT_EQ(stat((home_ + "/data.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(CreateFile(path("missing").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ServicesFiles, ShareModesRefuseConflictingOpensUntilClosed) {
  make("log.txt", "old");
  auto open = [&](const std::string& name, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    return CreateFile(path(name).c_str(), access, share, nullptr, disposition, 0, nullptr);
  };
  HANDLE writer = open("log.txt", GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  // A second writer is refused, and a replacing open does not truncate the file in use.
  EXPECT_EQ(open("log.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(open("log.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(GetFileAttributes(path("log.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  // A reader that lets others write may come; one that does not may not.
  HANDLE reader = open("log.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  char buf[4] = {};
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(reader, buf, 3, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "old");
  EXPECT_EQ(open("log.txt", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  // The same file under another name is the same file.
  ASSERT_EQ(link((home_ + "/log.txt").c_str(), (home_ + "/alias.txt").c_str()), 0);
  EXPECT_EQ(open("alias.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(writer));
  // Closing the writer lets a writer in; the open reader still shares writing.
  HANDLE second = open("alias.txt", GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
  CloseHandle(reader);
  // A reader that shares nothing keeps out readers and writers alike.
  HANDLE only = open("log.txt", GENERIC_READ, 0);
  ASSERT_NE(only, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open("log.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(open("log.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  CloseHandle(only);
  HANDLE again = open("log.txt", GENERIC_READ | GENERIC_WRITE, 0);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  // Held without FILE_SHARE_DELETE, the file cannot be deleted until closed.
  EXPECT_FALSE(DeleteFile(path("log.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  CloseHandle(again);
  EXPECT_TRUE(DeleteFile(path("log.txt").c_str()));
}

TEST_F(ServicesFiles, ThePrivateTempFolderIsTheUsersAlone) {
  std::string folder = platform::privateTempFolder();
  EXPECT_EQ(folder, home_ + "/temp/");
  struct stat st;
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Loosened, it is tightened again.
  chmod(folder.c_str(), 0777);
  EXPECT_EQ(platform::privateTempFolder(), folder);
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Outside the sandbox: under the runtime folder, where a link planted at
  // the name is refused, not followed.
  unsetenv("OLVARO_HOME");
  const char* was = std::getenv("XDG_RUNTIME_DIR");
  std::string oldRuntime = was ? was : "";
  std::string runtime = home_ + "/run", elsewhere = home_ + "/elsewhere";
  mkdir(runtime.c_str(), 0700);
  mkdir(elsewhere.c_str(), 0755);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_EQ(platform::privateTempFolder(), runtime + "/olvaro/");
  rmdir((runtime + "/olvaro").c_str());
  ASSERT_EQ(symlink(elsewhere.c_str(), (runtime + "/olvaro").c_str()), 0);
  EXPECT_EQ(platform::privateTempFolder(), "");
  ASSERT_EQ(stat(elsewhere.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  if (was)
    setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
  setenv("OLVARO_HOME", home_.c_str(), 1);
}

TEST_F(ServicesFiles, MappedFilesShowTheirBytes) {
  make("src.bin", "0123456789");
  HANDLE f = CreateFile(path("src.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE m = CreateFileMapping(f, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(m, nullptr);
  CloseHandle(f);  // the mapping keeps the file
  auto* p = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, 10), "0123456789");
  EXPECT_EQ(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0), nullptr);  // read-only mapping
  EXPECT_EQ(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 11), nullptr);  // past the end
  EXPECT_TRUE(UnmapViewOfFile(p));
  EXPECT_FALSE(UnmapViewOfFile(p));
  CloseHandle(m);
  // An empty file cannot be mapped, as on Win32.
  make("empty.bin", "");
  HANDLE e = CreateFile(path("empty.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(CreateFileMapping(e, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
  CloseHandle(e);
}

TEST_F(ServicesFiles, DeleteMoveAndTemp) {
  make("a", "1");
  make("b", "2");
  EXPECT_FALSE(MoveFile(path("a").c_str(), path("b").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(MoveFile(path("a").c_str(), path("c").c_str()));
  EXPECT_EQ(GetFileAttributes(path("a").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(DeleteFile(path("c").c_str()));
  EXPECT_FALSE(DeleteFile(path("c").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(CreateDirectory(path("dir").c_str(), nullptr));
  EXPECT_NE(GetFileAttributes(path("dir").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(DeleteFile(path("dir").c_str()));
  EXPECT_TRUE(RemoveDirectory(path("dir").c_str()));
  WCHAR tmp[MAX_PATH];
  DWORD n = GetTempPath(MAX_PATH, tmp);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(tmp[n - 1], u'/');
  WCHAR tiny[2];
  EXPECT_EQ(GetTempPath(2, tiny), n + 1);  // too small: the size needed
}
