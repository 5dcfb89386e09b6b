// An ordered parallel map: inputs are worked on by several threads at once,
// and their outputs handed on one at a time, in the order the inputs came.

#ifndef BOOLCONV_CLI_ORDERED_MAP_H_
#define BOOLCONV_CLI_ORDERED_MAP_H_

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace boolconv::cli {

// Hands each input to the next of `threads` workers in turn and the outputs
// to `consume` in input order, on the caller's thread. At most one input per
// worker and one more are in flight (or `most_in_flight`, if more), so
// memory stays bounded however long the stream of inputs. When `consume`
// returns false (say, a write failed), the map stops: later outputs are
// discarded and no more inputs are taken. An exception thrown by the work
// reaches the caller from Add or Drain.
template <typename Input, typename Output>
class OrderedParallelMap {
 public:
  // Turns one input into its output, on a worker's thread.
  using Work = std::function<Output(Input&)>;
  // Takes each output, in input order; false stops the map.
  using Consume = std::function<bool(Output&)>;

  // Starts `threads` (at least 1) workers. Each calls `make_work` once, on
  // its own thread, for the function it runs, so that each can keep state of
  // its own (an engine, say) from one input to the next.
  // A caller that spends long on each output between inputs gives a larger
  // `most_in_flight`, so that the workers have the next inputs meanwhile.
  OrderedParallelMap(unsigned threads, std::function<Work()> make_work, Consume consume,
                     size_t most_in_flight = 0)
      : consume_(std::move(consume)) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
      workers_.push_back(std::make_unique<Worker>(make_work));
    }
    most_in_flight_ = std::max(most_in_flight, workers_.size() + 1);
  }

  // Stops the workers; inputs they have not started are dropped.
  ~OrderedParallelMap() = default;

  OrderedParallelMap(const OrderedParallelMap&) = delete;
  OrderedParallelMap& operator=(const OrderedParallelMap&) = delete;

  // Queues `input`; first hands on the oldest output while too many are in
  // flight. False once the map has stopped: the input is dropped.
  bool Add(Input input) {
    if (stopped_) return false;
    running_.push_back(workers_[next_worker_]->Submit(std::move(input)));
    next_worker_ = (next_worker_ + 1) % workers_.size();
    // One input more than workers, so that a worker never waits for the
    // consuming of another's output.
    if (running_.size() >= most_in_flight_) ConsumeOldest();
    return !stopped_;
  }

  // Hands on every output still to come; false when the map has stopped.
  bool Drain() {
    while (!stopped_ && !running_.empty()) ConsumeOldest();
    return !stopped_;
  }

 private:
  // A thread that works on the inputs handed to it, in turn.
  class Worker {
   public:
    explicit Worker(const std::function<Work()>& make_work)
        : thread_([this, make_work] { Run(make_work()); }) {}
    ~Worker() {
      {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
      }
      ready_.notify_one();
      thread_.join();
    }

    std::future<Output> Submit(Input input) {
      std::promise<Output> promise;
      std::future<Output> future = promise.get_future();
      {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(input), std::move(promise)});
      }
      ready_.notify_one();
      return future;
    }

   private:
    struct Job {
      Input input;
      std::promise<Output> promise;
    };

    void Run(const Work& work) {
      for (;;) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        try {
          job.promise.set_value(work(job.input));
        } catch (...) {
          job.promise.set_exception(std::current_exception());
        }
      }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the members it uses exist
  };

  void ConsumeOldest() {
    std::future<Output> oldest = std::move(running_.front());
    running_.pop_front();
    Output output = oldest.get();
    if (!consume_(output)) stopped_ = true;
  }

  Consume consume_;
  std::vector<std::unique_ptr<Worker>> workers_;
  size_t next_worker_ = 0;
  size_t most_in_flight_ = 0;
  std::deque<std::future<Output>> running_;
  bool stopped_ = false;
};

}  // namespace boolconv::cli

#endif  // BOOLCONV_CLI_ORDERED_MAP_H_
