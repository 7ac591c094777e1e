// The names of the temporary files being written, where a signal handler
// (Unix) or a console handler (Windows) can find them. Such a handler can
// reach nothing but what is process-wide, so the names wait in a fixed table
// of slots that it reads without locks: a slot is `ready` only after its name
// is complete, and the handler touches only ready slots. Nothing outside
// common/ includes this header.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <string_view>

namespace common::sys {

template <typename Char, std::size_t Length>
class temporary_names {
public:
    static_assert(std::atomic<int>::is_always_lock_free);

    // Copies `name` into a free slot: its number, or -1 when all are taken or
    // the name is too long.
    int claim(std::basic_string_view<Char> name) {
        if (name.size() >= Length) {
            return -1;
        }
        for (int i = 0; i < static_cast<int>(slots_.size()); ++i) {
            auto& s = slots_[static_cast<std::size_t>(i)];
            int expected = free_slot;
            if (s.state.compare_exchange_strong(expected, filling)) {
                name.copy(s.name.data(), name.size());
                s.name[name.size()] = Char{};
                s.state.store(ready, std::memory_order_release);
                return i;
            }
        }
        return -1;
    }

    void release(int slot) {
        if (slot >= 0 && slot < static_cast<int>(slots_.size())) {
            slots_[static_cast<std::size_t>(slot)].state.store(free_slot, std::memory_order_release);
        }
    }

    // Calls `remove` with every ready name, terminated; safe in a handler
    // when `remove` is.
    template <typename Remove>
    void remove_all(Remove remove) {
        for (auto& s : slots_) {
            if (s.state.load(std::memory_order_acquire) == ready) {
                remove(s.name.data());
            }
        }
    }

private:
    enum : int { free_slot = 0, filling = 1, ready = 2 };
    struct slot {
        std::atomic<int> state{free_slot};
        std::array<Char, Length> name{};
    };
    std::array<slot, 16> slots_;
};

}  // namespace common::sys
