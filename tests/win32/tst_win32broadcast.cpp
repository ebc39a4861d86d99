// The change announcement as top-level windows of this process receive it, and its bound in time
// when another window has stopped answering.

#include "check.h"

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct Received
{
    WPARAM wParam = 0;
    bool hasText = false;
    std::wstring text;
};

std::mutex receivedMutex;
std::vector<Received> received;

LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTINGCHANGE) {
        const auto *text = reinterpret_cast<const wchar_t *>(lParam);
        const std::lock_guard<std::mutex> lock(receivedMutex);
        received.push_back({wParam, text != nullptr, text ? std::wstring(text) : std::wstring()});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<Received> takeReceived()
{
    const std::lock_guard<std::mutex> lock(receivedMutex);
    return std::exchange(received, {});
}

// A hidden top-level window on a thread of its own, which either pumps its messages like any
// program or, once created, stops answering until it is destroyed.
class WindowThread
{
public:
    enum Behaviour { Pumping, Hung };

    explicit WindowThread(Behaviour behaviour)
        : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        std::promise<DWORD> started;
        std::future<DWORD> threadId = started.get_future();
        thread_ = std::thread([this, behaviour, started = std::move(started)]() mutable {
            const wchar_t *className = behaviour == Pumping ? L"TroxRecording" : L"TroxHung";
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = behaviour == Pumping ? recordingProcedure : DefWindowProcW;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = className;
            RegisterClassW(&windowClass);
            const HWND window = CreateWindowExW(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                                nullptr, nullptr, windowClass.hInstance, nullptr);
            started.set_value(window ? GetCurrentThreadId() : 0);
            if (behaviour == Pumping) {
                MSG message;
                while (GetMessageW(&message, nullptr, 0, 0) > 0)
                    DispatchMessageW(&message);
            } else {
                WaitForSingleObject(release_, INFINITE);
            }
            DestroyWindow(window);
        });
        threadId_ = threadId.get();
    }
    ~WindowThread()
    {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        SetEvent(release_);
        thread_.join();
        CloseHandle(release_);
    }
    WindowThread(const WindowThread &) = delete;
    WindowThread &operator=(const WindowThread &) = delete;

    bool created() const { return threadId_ != 0; }

private:
    HANDLE release_;
    std::thread thread_;
    DWORD threadId_ = 0;
};

void checkSixAnnouncements(const std::vector<Received> &got)
{
    const wchar_t *const expected[] = {L"Environment",
                                       L"Environment",
                                       nullptr,
                                       nullptr,
                                       Win32Store::machineEnvironmentKey,
                                       Win32Store::machineEnvironmentKey};
    CHECK_EQ(got.size(), std::size_t(6));
    for (std::size_t i = 0; i < got.size() && i < 6; ++i) {
        CHECK_EQ(got[i].wParam, WPARAM(0));
        CHECK_EQ(got[i].hasText, expected[i] != nullptr);
        CHECK_EQ(got[i].text, std::wstring(expected[i] ? expected[i] : L""));
    }
}

} // namespace

int main()
{
    // The window that answers gets all six in order, the hung one delays them only within their bound.
    Check::run("six announcements reach a top-level window in order, a hung one delays them within a bound",
               [] {
                   WindowThread recording(WindowThread::Pumping);
                   WindowThread hung(WindowThread::Hung);
                   CHECK(recording.created() && hung.created());
                   takeReceived();
                   const auto start = std::chrono::steady_clock::now();
                   Win32Store::broadcastEnvironmentChange();
                   const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start);
                   std::printf("    announcing with a hung window took %lld ms\n",
                               static_cast<long long>(elapsed.count()));
                   // The first announcement waits its full time for the hung window; the other five skip it.
                   const int hungWindows = 1;
                   CHECK(elapsed.count() < hungWindows * Win32Store::broadcastTimeoutMs * 11 / 10);
                   checkSixAnnouncements(takeReceived());
               });

    return Check::result();
}
