// Two stages of a command on the machine's two cores: a worker thread
// produces pieces (reading and the first half of the conversion), the
// calling thread consumes them in order (the second half and writing).
// At most kDepth pieces are in flight, each reused once consumed, so the
// memory stays bounded whatever the input's size.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace tavro::cli {

template <class Piece>
class TwoStages {
public:
    static constexpr std::size_t kDepth = 3;

    // produce fills the piece it is given and returns false once the input
    // is done (the piece it was given then goes unused); consume takes the
    // pieces in order. An exception in either stage stops both and is
    // rethrown here, the producer's first.
    static void Run(const std::function<bool(Piece&)>& produce, const std::function<void(Piece&)>& consume)
    {
        TwoStages stages;
        std::exception_ptr produceError;
        std::thread worker([&] {
            // Signals are taken by the main thread, which owns the cleanup.
            sigset_t all;
            sigfillset(&all);
            ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
            try {
                for (;;) {
                    Piece* piece = stages.TakeFree();
                    if (piece == nullptr || !produce(*piece))
                        break;
                    stages.Hand(piece);
                }
            } catch (...) {
                produceError = std::current_exception();
            }
            stages.CloseFull();
        });
        std::exception_ptr consumeError;
        try {
            while (Piece* piece = stages.TakeFull()) {
                consume(*piece);
                stages.Return(piece);
            }
        } catch (...) {
            consumeError = std::current_exception();
            stages.Cancel();
        }
        worker.join();
        if (produceError)
            std::rethrow_exception(produceError);
        if (consumeError)
            std::rethrow_exception(consumeError);
    }

private:
    TwoStages()
    {
        for (Piece& piece : pieces_)
            free_.push_back(&piece);
    }

    Piece* TakeFree()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancelled_ || !free_.empty(); });
        if (cancelled_)
            return nullptr;
        Piece* piece = free_.front();
        free_.pop_front();
        return piece;
    }
    void Hand(Piece* piece)
    {
        std::lock_guard lock(mutex_);
        full_.push_back(piece);
        changed_.notify_all();
    }
    void CloseFull()
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    Piece* TakeFull()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || !full_.empty(); });
        if (full_.empty())
            return nullptr;
        Piece* piece = full_.front();
        full_.pop_front();
        return piece;
    }
    void Return(Piece* piece)
    {
        std::lock_guard lock(mutex_);
        free_.push_back(piece);
        changed_.notify_all();
    }
    void Cancel()
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        changed_.notify_all();
    }

    std::array<Piece, kDepth> pieces_{};
    std::deque<Piece*> free_, full_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    bool cancelled_ = false;
};

} // namespace tavro::cli
