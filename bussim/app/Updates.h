// The thread that drives subscriptions: about every 10 ms it lets each active
// group see whether its update rate has come round, then calls the group's
// client with the changed values. Groups are held weakly: a group that goes
// away clears its slot, and no client call is made while a slot is held.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace bussim {

class CSimGroup;

struct UpdateSlot {
    std::mutex mutex;  // held while the thread looks at the group
    CSimGroup* group;  // cleared by the group when its last reference goes
};

class UpdateThread {
public:
    // A notification prepared under the slot, sent after it is left.
    using Send = std::function<void()>;

    static UpdateThread& Get();

    void Add(const std::shared_ptr<UpdateSlot>& slot);
    void Stop();

private:
    UpdateThread() = default;
    void Run();

    std::mutex mutex_;  // guards slots_, stopping_, thread_
    std::condition_variable wake_;
    std::vector<std::weak_ptr<UpdateSlot>> slots_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace bussim
