// The host side of Orrim: creating and freeing arrays, loading a module and
// calling its gateway, and the counters that show what a call left behind.
#pragma once

#include "orrim.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orrim {

struct ArrayDeleter {
  void operator()(OrrimArray *array) const noexcept;
};
using ArrayPtr = std::unique_ptr<OrrimArray, ArrayDeleter>;

// A misuse of the host API itself (bad dimensions, a cell index out of range,
// a module that cannot be loaded). Module errors are not thrown: they come
// back in CallResult.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Arrays have two or more dimensions; fewer are padded with ones. The element
// count and the column count must fit in 64 bits.
ArrayPtr createReal(std::vector<uint64_t> dimensions);
ArrayPtr createReal(std::vector<uint64_t> dimensions, const std::vector<double> &values);
// An array over memory the caller owns and keeps alive while the array lives;
// the host never writes to it through this array.
ArrayPtr wrapReal(std::vector<uint64_t> dimensions, const double *data);
ArrayPtr createCell(std::vector<uint64_t> dimensions);
// Stores `element` (taking ownership) at 0-based linear index `index`, replacing
// what was there.
void setCellElement(OrrimArray *cell, uint64_t index, ArrayPtr element);
ArrayPtr createEmpty();

std::vector<uint64_t> dimensions(const OrrimArray *array);
uint64_t elementCount(const OrrimArray *array);

// The most outputs a call may ask for: the modules fill one, and the slots
// live on the calling thread's stack.
inline constexpr int32_t maxOutputCount = 16;

struct CallResult {
  bool failed = false;
  std::string identifier;
  std::string message;
  // max(outputCount, 1) slots, since a module always fills outputs[0]; null
  // where the module stored nothing. Empty when the call failed.
  std::vector<ArrayPtr> outputs;
};

class Module {
 public:
  // Loads the shared library at `path` and finds its `orrimGateway`.
  static Module load(const std::string &path);
  Module(Module &&other) noexcept;
  Module &operator=(Module &&other) noexcept;
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;
  ~Module();

  // Calls the gateway with `outputCount` (0 to maxOutputCount) empty output
  // slots. Whatever the module does, every block and array it took is
  // released when this returns, except the outputs handed back. Memory that
  // runs out anywhere in the call, in the module or in the host, fails it
  // with "orrim:OutOfMemory". Throws HostError for an output count out of
  // range or more inputs than an int32_t counts, before anything is made;
  // std::bad_alloc only when memory runs out even for the error's text, with
  // everything released.
  CallResult call(int32_t outputCount, const std::vector<const OrrimArray *> &inputs) const;

  const std::string &path() const { return path_; }

 private:
  Module(std::string path, void *handle, void *gateway);
  std::string path_;
  void *handle_ = nullptr;
  void *gateway_ = nullptr;
};

// Counters over the life of the process (reset with resetCounters).
struct Counters {
  uint64_t blocksLive = 0;        // blocks from orrimAlloc/orrimRealloc not yet freed
  uint64_t allocations = 0;       // orrimAlloc calls, plus orrimRealloc calls that took a new block
  uint64_t reallocations = 0;     // orrimRealloc calls on an existing block
  uint64_t bytesLive = 0;
  uint64_t peakBytes = 0;         // the most bytes live at one time
  uint64_t blocksReclaimed = 0;   // blocks the host released because a call ended still holding them
  uint64_t arraysLive = 0;        // arrays created and not yet destroyed, cell elements included
};
Counters counters();
// Zeroes every counter but blocksLive, bytesLive and arraysLive, which
// describe what exists; peakBytes restarts from bytesLive.
void resetCounters();

// Makes orrimAlloc and orrimRealloc fail, as on an exhausted machine, once a
// request would take the bytes live above `bytes`. 0 lifts the limit.
void setMemoryLimit(uint64_t bytes);

}  // namespace orrim
