#include "UnfinishedOutputs.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace stereotools {
namespace {

// A slot goes Free -> Filling -> Recorded -> Free as an output is written;
// a handler takes a Recorded one to Removing, then Removed, which its
// owner's release makes Free again. Only the thread that moved a slot out of
// Free or Recorded touches its folder and name until it moves it on.
enum SlotState : int { Free, Filling, Recorded, Removing, Removed };

struct Slot {
    std::atomic<int> state{Free};
    int folder = -1;
    char name[NAME_MAX + 1] = {};
};

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only use lock-free atomics");

std::array<Slot, kMaxUnfinishedOutputs> gSlots;

bool CanBeFileName(std::string_view name) {
    return !name.empty() && name.size() <= NAME_MAX && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

int RecordUnfinishedOutput(int folder, std::string_view name) {
    if (folder < 0 || !CanBeFileName(name)) return -1;
    for (std::size_t i = 0; i < gSlots.size(); ++i) {
        Slot& slot = gSlots[i];
        int expected = Free;
        if (!slot.state.compare_exchange_strong(expected, Filling, std::memory_order_acquire)) continue;
        slot.folder = folder;
        std::memcpy(slot.name, name.data(), name.size());
        slot.name[name.size()] = '\0';
        slot.state.store(Recorded, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void ReleaseUnfinishedOutput(int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= gSlots.size()) return;
    std::atomic<int>& state = gSlots[static_cast<std::size_t>(slot)].state;
    for (;;) {
        int expected = Recorded;
        if (state.compare_exchange_strong(expected, Free, std::memory_order_acq_rel)) return;
        if (expected == Removed) {
            state.store(Free, std::memory_order_release);
            return;
        }
        // A handler on another thread is removing the file through our
        // folder descriptor: it must not be closed, and its number reused,
        // under that handler. The handler makes a single call.
        sched_yield();
    }
}

void RemoveUnfinishedOutputs() {
    // A handler that returns must leave errno as the interrupted code had it.
    const int savedErrno = errno;
    for (Slot& slot : gSlots) {
        int expected = Recorded;
        if (!slot.state.compare_exchange_strong(expected, Removing, std::memory_order_acquire)) continue;
        ::unlinkat(slot.folder, slot.name, 0);
        slot.state.store(Removed, std::memory_order_release);
    }
    errno = savedErrno;
}

}  // namespace stereotools
