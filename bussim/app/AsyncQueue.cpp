#include "AsyncQueue.h"

#include "SimHost.h"
#include "com/ComInit.h"

namespace bussim {

AsyncQueue& AsyncQueue::Get() {
    static AsyncQueue queue;
    return queue;
}

DWORD AsyncQueue::Post(const void* owner, Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    DWORD id = nextCancelId_++;
    if (nextCancelId_ == 0) nextCancelId_ = 1;
    queue_.push_back(Entry{owner, id, false, std::move(job)});
    wake_.notify_one();
    return id;
}

bool AsyncQueue::Cancel(const void* owner, DWORD cancelId) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& entry : queue_) {
        if (entry.cancelId == cancelId && entry.owner == owner && !entry.cancelled) {
            entry.cancelled = true;
            return true;
        }
    }
    return false;
}

void AsyncQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
}

void AsyncQueue::Run() {
    // Completions call the clients' sinks: proxies of the multithreaded apartment.
    com::ComInitializer com(COINIT_MULTITHREADED);
    while (true) {
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            // Sim/AsyncDelayMs holds the job at the head of the queue, where a cancel still
            // reaches it.
            const uint32_t delay = SimHost::Get().bus().AsyncDelayMs();
            if (delay > 0 && !stopping_)
                wake_.wait_for(lock, std::chrono::milliseconds(delay),
                               [this] { return stopping_; });
            entry = std::move(queue_.front());
            queue_.pop_front();
        }
        entry.job(entry.cancelId, entry.cancelled);
    }
}

}  // namespace bussim
