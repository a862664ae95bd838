#include "SideBySide.h"

#include <system_error>
#include <thread>

#include "com/ComInit.h"
#include "com/Result.h"
#include "com/ScopeExit.h"

namespace orvane::interaction {

std::vector<HRESULT> RunSideBySide(size_t count, bool oneAfterAnother,
                                   const std::function<HRESULT(size_t)>& job) {
    std::vector<HRESULT> results(count, E_FAIL);
    std::vector<char> threaded(count, 0);
    const auto run = [&](size_t i) { results[i] = com::ComBoundary([&] { return job(i); }); };
    std::vector<std::thread> workers;
    workers.reserve(count);
    // Joined on every way out: a worker uses this frame's vectors and the caller's job.
    const auto joinAll = [&workers] {
        for (std::thread& worker : workers) {
            if (worker.joinable()) worker.join();
        }
    };
    com::ScopeExit join(joinAll);
    for (size_t i = 1; i < count && !oneAfterAnother; ++i) {
        try {
            workers.emplace_back([&run, &results, i] {
                const com::ComInitializer apartment(COINIT_MULTITHREADED);
                if (apartment.succeeded())
                    run(i);
                else
                    results[i] = apartment.hr();
            });
            threaded[i] = 1;
        } catch (const std::system_error&) {
            // No thread: the job runs below, on this one.
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (!threaded[i]) run(i);
    }
    joinAll();  // before `results` is handed out
    return results;
}

}  // namespace orvane::interaction
