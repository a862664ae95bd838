// The one worker thread that carries out asynchronous reads and writes in
// order and calls the clients' completion callbacks. Jobs can be cancelled
// while they wait.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace bussim {

class AsyncQueue {
public:
    // Runs the job with its cancel ID, and cancelled == true when Cancel came first.
    using Job = std::function<void(DWORD cancelId, bool cancelled)>;

    static AsyncQueue& Get();

    // A cancel ID for the job (never 0); `owner` limits who may cancel it.
    DWORD Post(const void* owner, Job job);
    // True when the job had not started; it then runs as cancelled.
    bool Cancel(const void* owner, DWORD cancelId);
    // Runs what is queued and ends the thread (at process end).
    void Stop();

private:
    AsyncQueue() = default;
    void Run();

    struct Entry {
        const void* owner;
        DWORD cancelId;
        bool cancelled;
        Job job;
    };
    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::deque<Entry> queue_;
    DWORD nextCancelId_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace bussim
