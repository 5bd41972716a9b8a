#include "platform/worker_thread.h"

#include <system_error>
#include <utility>

#include "platform/interrupt.h"

namespace quarnel {

bool WorkerThread::start(std::function<void()> work)
{
    // The thread inherits the held signals: interruptions reach the thread that handles them.
    const InterruptsHeld held;
    try {
        thread_ = std::thread(std::move(work));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerThread::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    update([this] { stopping_ = true; });
    thread_.join();
}

}  // namespace quarnel
