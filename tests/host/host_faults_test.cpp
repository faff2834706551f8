// What a user's program can drive the host into: forking beside a thread that
// is inside module calls, and memory running out at any allocation of a call,
// the host's own bookkeeping included.
#include "failing_allocations.h"
#include "host_testing.h"
#include "random_model.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <limits>
#include <thread>

using namespace testing_support;

namespace {

struct ModuleCall {
  std::string name;
  std::string path;
  std::vector<orrim::ArrayPtr> inputs;
};

orrim::ArrayPtr randomArray(RandomSource &random, const std::vector<uint64_t> &dimensions) {
  uint64_t count = 1;
  for (uint64_t d : dimensions) count *= d;
  return realArray(dimensions, random.normals(count, 0.7));
}

// One call of each module on a small model (paged, cells, intercepts and a
// missing value, so that every kind of working block is taken), and calls of
// the probe that fail on purpose and that take more than a record holds inline.
std::vector<ModuleCall> oneCallOfEach() {
  RandomSource random(11);
  const uint64_t T = 5, m = 2, n = 2;
  std::vector<ModuleCall> calls;
  auto observations = [&] {
    orrim::ArrayPtr Y = randomArray(random, {T, n});
    orrimRealData(Y.get())[3] = std::numeric_limits<double>::quiet_NaN();
    return Y;
  };
  auto P0 = [&] { return realArray({m, m}, random.covariance(m)); };
#ifdef STATEFILTER_MODULE
  calls.push_back({"statefilter", STATEFILTER_MODULE,
                   arrayList(observations(), randomArray(random, {m, m, T}), randomArray(random, {m, m}),
                             randomArray(random, {n, m}), randomArray(random, {n, n}), randomArray(random, {m, 1}),
                             P0(), scalar(0))});
#endif
#ifdef CELLSTATEFILTER_MODULE
  std::vector<orrim::ArrayPtr> Y, C, D;
  for (uint64_t t = 0; t < T; ++t) {
    const uint64_t series = t % 3;  // 0, 1 or 2 series
    Y.push_back(randomArray(random, {series, 1}));
    C.push_back(randomArray(random, {series, m}));
    D.push_back(randomArray(random, {series, 1}));
  }
  calls.push_back({"cellstatefilter", CELLSTATEFILTER_MODULE,
                   arrayList(cellColumn(std::move(Y)), randomArray(random, {m, m}), randomArray(random, {m, 1}),
                             cellColumn(std::move(C)), cellColumn(std::move(D)), randomArray(random, {m, 1}), P0(),
                             scalar(0))});
#endif
#ifdef STATESMOOTHER_MODULE
  calls.push_back({"statesmoother", STATESMOOTHER_MODULE,
                   arrayList(observations(), randomArray(random, {m, m, T}), randomArray(random, {m, m}),
                             randomArray(random, {n, m}), randomArray(random, {n, n}), P0(), scalar(0),
                             randomArray(random, {m, 1}), randomArray(random, {m, T}), randomArray(random, {n, T}))});
#endif
  calls.push_back({"probe failing on purpose", HOST_PROBE_MODULE, arrayList(scalar(2))});
  calls.push_back({"probe outgrowing the inline record", HOST_PROBE_MODULE, arrayList(scalar(10))});
  return calls;
}

bool sameOutcome(const orrim::CallResult &expected, const orrim::CallResult &actual) {
  if (expected.failed != actual.failed || expected.identifier != actual.identifier ||
      expected.message != actual.message || expected.outputs.size() != actual.outputs.size()) {
    return false;
  }
  for (size_t slot = 0; slot < expected.outputs.size(); ++slot) {
    const OrrimArray *want = expected.outputs[slot].get();
    const OrrimArray *got = actual.outputs[slot].get();
    if ((want == nullptr) != (got == nullptr) ||
        (want != nullptr && (orrim::dimensions(want) != orrim::dimensions(got) ||
                             !bitIdentical(valuesOf(want), valuesOf(got))))) {
      return false;
    }
  }
  return true;
}

// A forked child's work: every module loaded anew and called once. 0 when
// every outcome is the parent's and the host counts nothing but what lives in
// the child; the call another thread had in progress at the fork never ends
// here, so none of its blocks may still be counted.
char callEveryModuleInChild(const std::vector<ModuleCall> &calls, const std::vector<orrim::CallResult> &expected) {
  for (size_t c = 0; c < calls.size(); ++c) {
    const orrim::Module module = orrim::Module::load(calls[c].path);
    const orrim::Counters before = orrim::counters();
    const orrim::CallResult result = module.call(1, handles(calls[c].inputs));
    if (!sameOutcome(expected[c], result)) return 1;
    if (orrim::counters().blocksLive != before.blocksLive) return 2;
  }
  return orrim::counters().blocksLive == 0 && orrim::counters().bytesLive == 0 ? 0 : 3;
}

// Forks a child that runs callEveryModuleInChild and waits for it up to
// `bound`. Its outcome comes back through a pipe, and it then ends by
// SIGKILL: whatever the threads that did not come along held is lost in it,
// by the nature of fork, and a leak checker must not count that against the
// child. -1 when it hung (and was killed), crashed or could not be forked.
int outcomeOfAChild(const std::vector<ModuleCall> &calls, const std::vector<orrim::CallResult> &expected,
                    std::chrono::seconds bound) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const char outcome = callEveryModuleInChild(calls, expected);
    if (write(channel[1], &outcome, 1) == 1) kill(getpid(), SIGKILL);
    _exit(1);
  }
  close(channel[1]);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  int status = 0;
  while (child > 0 && waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  char outcome = -1;
  if (child < 0 || read(channel[0], &outcome, 1) != 1) outcome = -1;
  close(channel[0]);
  return outcome;
}

}  // namespace

TEST(HostFork, ChildForkedBesideAThreadInsideCallsCallsEveryModule) {
  const std::vector<ModuleCall> calls = oneCallOfEach();
  std::vector<orrim::Module> modules;
  std::vector<orrim::CallResult> expected;
  for (const ModuleCall &call : calls) {
    modules.push_back(orrim::Module::load(call.path));
    expected.push_back(modules.back().call(1, handles(call.inputs)));
  }
  // A generous bound: a child needs milliseconds, under valgrind seconds.
  auto expectChildrenCallEveryModule = [&](int children) {
    for (int child = 0; child < children; ++child) {
      const int outcome = outcomeOfAChild(calls, expected, std::chrono::seconds(30));
      EXPECT_EQ(outcome, 0) << "child " << child << (outcome == -1 ? " hung, crashed or was not forked" : "");
      if (outcome != 0) break;
    }
  };

  // Forks while another thread's call certainly holds a block and an array.
  double release = 0.0;
  const std::vector<orrim::ArrayPtr> held = arrayList(scalar(11), orrim::wrapReal({1, 1}, &release));
  const orrim::Module probe = orrim::Module::load(HOST_PROBE_MODULE);
  std::thread holding([&] { probe.call(1, handles(held)); });
  while (orrim::counters().blocksLive == 0) std::this_thread::yield();
  expectChildrenCallEveryModule(3);
  const double one = 1.0;
  __atomic_store(&release, &one, __ATOMIC_RELEASE);
  holding.join();

  // Forks at any moment of a thread calling modules in a loop, the host's
  // lock taken and given back many times a call. AddressSanitizer's own
  // allocator is not safe across fork in this runtime (a child can hang in
  // it when another thread was inside it), so this part runs in the builds
  // without it.
#if !defined(__SANITIZE_ADDRESS__)
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    while (!stop.load()) {
      for (size_t c = 0; c < calls.size(); ++c) modules[c].call(1, handles(calls[c].inputs));
    }
  });
  expectChildrenCallEveryModule(20);
  stop.store(true);
  busy.join();
#endif
}

TEST(HostOutOfMemory, EveryAllocationOfACallFailingEndsItCleanly) {
  for (const ModuleCall &call : oneCallOfEach()) {
    const orrim::Module module = orrim::Module::load(call.path);
    const std::vector<const OrrimArray *> inputs = handles(call.inputs);
    const orrim::CallResult expected = module.call(1, inputs);
    uint64_t failing = 1;
    for (;; ++failing) {
      const orrim::Counters before = orrim::counters();
      failing_allocations::failNthAllocation(failing);
      orrim::CallResult result = module.call(1, inputs);
      const bool reachedIt = failing_allocations::allocationsCounted() >= failing;
      failing_allocations::failNthAllocation(0);
      if (!reachedIt) {
        EXPECT_TRUE(sameOutcome(expected, result)) << call.name << ": the call without a failure";
        break;
      }
      EXPECT_TRUE(result.failed) << call.name << ", allocation " << failing;
      EXPECT_EQ(result.identifier, "orrim:OutOfMemory") << call.name << ", allocation " << failing << ": "
                                                       << result.message;
      EXPECT_TRUE(result.outputs.empty());
      const orrim::Counters after = orrim::counters();
      EXPECT_EQ(after.blocksLive, before.blocksLive) << call.name << ", allocation " << failing;
      EXPECT_EQ(after.bytesLive, before.bytesLive) << call.name << ", allocation " << failing;
      EXPECT_EQ(after.arraysLive, before.arraysLive) << call.name << ", allocation " << failing;
      EXPECT_TRUE(sameOutcome(expected, module.call(1, inputs))) << call.name << ": the call after allocation "
                                                                 << failing << " failed";
    }
    EXPECT_GT(failing, 1u) << call.name << ": no allocation to fail";
  }
}
