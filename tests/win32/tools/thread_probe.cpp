// Does this Wine run a multi-threaded program of this build to its end? Nothing of the
// library's: N threads (argv[1], default 4) hand a token round through kernel semaphores,
// ROUNDS times (argv[2], default 2000), each thread also creating, writing and deleting a
// file of its own now and then, the system calls an expansion's workers make. Prints "ok
// N ROUNDS" and exits 0 when every thread finished; a hang or a crash is the host's.
// scripts/test-windows.sh runs it first where 32-bit programs go through an emulator, to
// tell the emulator's faults from the library's.
#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxThreads = 16;
HANDLE g_turn[kMaxThreads];
int g_threads = 4;
int g_rounds = 2000;
char g_dir[MAX_PATH];

unsigned __stdcall body(void* arg) {
    const int me = static_cast<int>(reinterpret_cast<INT_PTR>(arg));
    char path[MAX_PATH + 32];
    std::snprintf(path, sizeof path, "%s\\probe-%d.tmp", g_dir, me);
    for (int r = 0; r < g_rounds; ++r) {
        if (WaitForSingleObject(g_turn[me], 60000) != WAIT_OBJECT_0) return 1;
        if (r % 50 == 0) {
            HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (f == INVALID_HANDLE_VALUE) return 2;
            DWORD n = 0;
            WriteFile(f, path, 16, &n, nullptr);
            CloseHandle(f);
            DeleteFileA(path);
        }
        ReleaseSemaphore(g_turn[(me + 1) % g_threads], 1, nullptr);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_threads = std::atoi(argv[1]);
    if (argc > 2) g_rounds = std::atoi(argv[2]);
    if (g_threads < 1 || g_threads > kMaxThreads || g_rounds < 1) return 2;
    if (!GetTempPathA(sizeof g_dir, g_dir)) return 2;
    g_dir[lstrlenA(g_dir) - 1] = '\0';
    HANDLE threads[kMaxThreads];
    for (int i = 0; i < g_threads; ++i) g_turn[i] = CreateSemaphoreA(nullptr, i == 0 ? 1 : 0, 1, nullptr);
    for (int i = 0; i < g_threads; ++i)
        threads[i] = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, &body, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0, nullptr));
    int failed = 0;
    for (int i = 0; i < g_threads; ++i) {
        DWORD code = 99;
        if (WaitForSingleObject(threads[i], INFINITE) != WAIT_OBJECT_0 || !GetExitCodeThread(threads[i], &code) ||
            code != 0)
            ++failed;
        CloseHandle(threads[i]);
    }
    if (failed) {
        std::printf("failed: %d of %d threads did not finish\n", failed, g_threads);
        return 1;
    }
    std::printf("ok %d %d\n", g_threads, g_rounds);
    return 0;
}
