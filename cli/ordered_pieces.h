// A stream converted in pieces on the machine's two cores. Two threads
// take turns: each takes the next piece of the input (one thread at a time,
// in order), converts it while the other thread converts its own piece
// (both at once, in any order), and puts it out (one at a time, in the
// order taken). Each thread owns one piece, reused for every piece it
// handles, so the memory stays at two pieces whatever the input's size.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace tavro::cli {

template <class Piece>
class OrderedPieces {
public:
    struct Steps {
        std::function<bool(Piece&)> take;    // fills the piece; false: the input is done (the piece unused)
        std::function<void(Piece&)> convert; // any order, both threads at once
        std::function<void(Piece&)> put;     // in the order taken
    };

    // Runs the steps to the end of the input. An exception in a step ends
    // the pieces after that one; those before it are still put, and the
    // exception of the earliest piece is rethrown here. Steps report a
    // fault of the input by throwing from put, so that the first fault in
    // the input is the one reported.
    static void Run(const Steps& steps)
    {
        OrderedPieces shared(steps);
        std::thread other([&shared] {
            // Signals are taken by the main thread, which owns the cleanup.
            sigset_t all;
            sigfillset(&all);
            ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
            shared.Work();
        });
        shared.Work();
        other.join();
        if (shared.error_)
            std::rethrow_exception(shared.error_);
    }

private:
    static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

    explicit OrderedPieces(const Steps& steps) : steps_(steps) {}

    void Work()
    {
        Piece piece{};
        for (;;) {
            std::uint64_t index = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !taking_ || ended_ || nextTake_ >= failedAt_; });
                if (ended_ || nextTake_ >= failedAt_)
                    return;
                taking_ = true;
                index = nextTake_;
            }
            bool more = false;
            if (!Guarded(index, [&] { more = steps_.take(piece); })) {
                std::lock_guard lock(mutex_);
                taking_ = false;
                changed_.notify_all();
                return;
            }
            {
                std::lock_guard lock(mutex_);
                taking_ = false;
                if (more)
                    ++nextTake_;
                else
                    ended_ = true;
                changed_.notify_all();
            }
            if (!more || !Guarded(index, [&] { steps_.convert(piece); }))
                return;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return nextPut_ == index || index > failedAt_; });
                if (index > failedAt_)
                    return;
            }
            if (!Guarded(index, [&] { steps_.put(piece); }))
                return;
            {
                std::lock_guard lock(mutex_);
                ++nextPut_;
                changed_.notify_all();
            }
        }
    }

    // Runs a step of the piece at index; false after recording its exception.
    template <class Step>
    bool Guarded(std::uint64_t index, const Step& step)
    {
        try {
            step();
            return true;
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (index < failedAt_) {
                failedAt_ = index;
                error_ = std::current_exception();
            }
            changed_.notify_all();
            return false;
        }
    }

    const Steps& steps_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool taking_ = false;              // a thread is in take
    bool ended_ = false;               // take said the input is done
    std::uint64_t nextTake_ = 0;       // index of the piece take fills next
    std::uint64_t nextPut_ = 0;        // index of the piece put takes next
    std::uint64_t failedAt_ = kNone;   // index of the earliest piece whose step threw
    std::exception_ptr error_;
};

} // namespace tavro::cli
