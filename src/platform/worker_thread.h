// A second thread for a driver's background work (reading ahead, checksumming
// what has landed), with the lock and the wake-up its state is shared under.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quarnel {

// The thread starts with the handled signals held, so that an interruption is
// acted on by the thread that set up its handling (InterruptHandling). The
// destructor asks the work to stop and joins the thread.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `work` on the new thread; it must not throw. False when no thread
    // can be had, and the caller then does the work itself as it needs it.
    [[nodiscard]] bool start(std::function<void()> work);

    // Whether the thread was started and has not been stopped.
    [[nodiscard]] bool running() const { return thread_.joinable(); }

    // Changes the shared state under the lock and wakes every waiting thread.
    template <typename Change> void update(Change change)
    {
        const std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }

    // Waits under the lock until `ready()` holds, or the work is asked to
    // stop; false in the second case. `ready` runs under the lock, so it may
    // copy out the state it tested.
    template <typename Ready> [[nodiscard]] bool wait(Ready ready)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || ready(); });
        return !stopping_;
    }

    // Asks the work to stop (every wait() returns false from now on) and joins the thread.
    void stop();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    bool stopping_ = false;
};

}  // namespace quarnel
