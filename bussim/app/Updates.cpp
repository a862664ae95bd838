#include "Updates.h"

#include <chrono>

#include "SimGroup.h"
#include "com/ComInit.h"

namespace bussim {

UpdateThread& UpdateThread::Get() {
    static UpdateThread thread;
    return thread;
}

void UpdateThread::Add(const std::shared_ptr<UpdateSlot>& slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    slots_.push_back(slot);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void UpdateThread::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
}

void UpdateThread::Run() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    while (true) {
        std::vector<std::shared_ptr<UpdateSlot>> live;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopping_; });
            if (stopping_) return;
            std::vector<std::weak_ptr<UpdateSlot>> kept;
            for (const auto& weak : slots_) {
                if (auto slot = weak.lock()) {
                    live.push_back(slot);
                    kept.push_back(weak);
                }
            }
            slots_.swap(kept);
        }
        const uint64_t now = GetTickCount64();
        for (const auto& slot : live) {
            Send send;
            {
                std::lock_guard<std::mutex> held(slot->mutex);
                if (slot->group) send = slot->group->PrepareUpdate(now);
            }
            if (send) send();
        }
    }
}

}  // namespace bussim
