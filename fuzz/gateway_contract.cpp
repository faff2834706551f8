#include "gateway_contract.h"

#include "cellstatefilter_inputs.h"
#include "simulationsmoother_inputs.h"
#include "statefilter_inputs.h"
#include "statefiltergradient_inputs.h"
#include "statesmoother_inputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <sstream>

namespace fuzzing {
namespace {

// The filters: the log-likelihood of each period, then the filtered states
// after each period, T x m and m x m x T.
std::vector<std::vector<uint64_t>> filterOutputs(const RuleVerdict &verdict,
                                                 const std::vector<const OrrimArray *> & /*inputs*/) {
  return {{verdict.T, 1}, {verdict.T, verdict.m}, {verdict.m, verdict.m, verdict.T}};
}

// The smoother: the smoothed means, then their covariances.
std::vector<std::vector<uint64_t>> smootherOutputs(const RuleVerdict &verdict,
                                                   const std::vector<const OrrimArray *> & /*inputs*/) {
  return {{verdict.T, verdict.m}, {verdict.m, verdict.m, verdict.T}};
}

// The simulation smoother: T x m x S, one page per column of the variates.
std::vector<std::vector<uint64_t>> drawOutputs(const RuleVerdict &verdict, const std::vector<const OrrimArray *> &inputs) {
  const std::vector<uint64_t> variates = countedDimensions(inputs.at(10));
  return {{verdict.T, verdict.m, variates.at(1)}};
}

// The gradient: the log-likelihood, then the derivatives shaped as the
// module reads A, B, C, D (a paged one, its pages of the period), x0 (m x 1)
// and P0.
std::vector<std::vector<uint64_t>> gradientOutputs(const RuleVerdict &verdict,
                                                   const std::vector<const OrrimArray *> &inputs) {
  const uint64_t T = verdict.T, n = verdict.n, m = verdict.m;
  const uint64_t shapes[4][2] = {{m, m}, {m, verdict.k}, {n, m}, {n, verdict.h}};
  std::vector<std::vector<uint64_t>> outputs{{T, 1}};
  for (int position = 1; position <= 4; ++position) {
    const bool paged = countedDimensions(inputs.at(position)).size() == 3;
    const uint64_t *shape = shapes[position - 1];
    outputs.push_back(paged ? std::vector<uint64_t>{shape[0], shape[1], T} : std::vector<uint64_t>{shape[0], shape[1]});
  }
  outputs.push_back({m, 1});
  outputs.push_back({m, m});
  return outputs;
}

const orrim::Module &loaded(const std::string &path);

// Bit for bit, the sign of zero included; any NaN matches any NaN.
bool sameBits(const OrrimArray *a, const OrrimArray *b) {
  if (orrim::dimensions(a) != orrim::dimensions(b)) {
    return false;
  }
  const double *x = orrimRealData(a);
  const double *y = orrimRealData(b);
  for (uint64_t e = 0; e < orrim::elementCount(a); ++e) {
    if (std::memcmp(x + e, y + e, sizeof(double)) != 0 && !(x[e] != x[e] && y[e] != y[e])) {
      return false;
    }
  }
  return true;
}

// With every input one matrix (none paged, which cellstatefilter does not
// read) and as many series in Y as C gives, cellstatefilter filters the
// model statefilter does, and must give its result to the bit. The series
// count is C's as cellstatefilter reads it, against the m of A: a C with no
// element may stand for no series however many rows it claims, where
// statefilter takes the count from Y and wants C to hold it.
std::string agreesWithStatefilter(const std::vector<const OrrimArray *> &inputs, const OrrimArray *output) {
  for (size_t position = 0; position < inputs.size(); ++position) {
    if (inputs[position] == nullptr || orrimIsCell(inputs[position]) ||
        (position >= 1 && position <= 4 && countedDimensions(inputs[position]).size() == 3)) {
      return "";
    }
  }
  const uint64_t series = givenRows(orrimRows(inputs[3]), orrimColumns(inputs[3]), orrimRows(inputs[1]));
  if (orrimColumns(inputs[0]) != series || series == 0) {
    return "";
  }
  const orrim::CallResult filtered = loaded(STATEFILTER_MODULE).call(1, inputs);
  if (filtered.failed) {
    return "statefilter refuses the model it accepts: " + filtered.message;
  }
  return sameBits(filtered.outputs[0].get(), output) ? "" : "its result differs from statefilter's on the same model";
}

// Draws side by side are independent sums: the first draw alone, from the
// first column of the variates, must have the bits of page 0.
std::string agreesWithItsFirstDrawAlone(const std::vector<const OrrimArray *> &inputs, const OrrimArray *output) {
  const OrrimArray *variates = inputs.at(10);
  if (orrimColumns(variates) < 2) {
    return "";
  }
  const orrim::ArrayPtr first = orrim::wrapReal({orrimRows(variates), 1}, orrimRealData(variates));
  std::vector<const OrrimArray *> alone = inputs;
  alone[10] = first.get();
  const orrim::CallResult drawn = loaded(SIMULATIONSMOOTHER_MODULE).call(1, alone);
  if (drawn.failed) {
    return "the first draw alone is refused: " + drawn.message;
  }
  const OrrimArray *single = drawn.outputs[0].get();
  const uint64_t count = orrim::elementCount(single);
  const double *x = orrimRealData(single);
  const double *y = orrimRealData(output);
  for (uint64_t e = 0; e < count; ++e) {
    if (std::memcmp(x + e, y + e, sizeof(double)) != 0 && !(x[e] != x[e] && y[e] != y[e])) {
      return "the first draw alone differs from page 0 of the draws";
    }
  }
  return "";
}

const orrim::Module &loaded(const std::string &path) {
  static std::map<std::string, std::unique_ptr<orrim::Module>> modules;
  std::unique_ptr<orrim::Module> &module = modules[path];
  if (module == nullptr) {
    module = std::make_unique<orrim::Module>(orrim::Module::load(path));
  }
  return *module;
}

// The gradient's log-likelihood is statefilter's, to the bit.
std::string agreesWithStatefilterBitForBit(const std::vector<const OrrimArray *> &inputs, const OrrimArray *output) {
  const orrim::CallResult filtered = loaded(STATEFILTER_MODULE).call(1, inputs);
  if (filtered.failed) {
    return "statefilter refuses the model the gradient accepts: " + filtered.message;
  }
  return sameBits(filtered.outputs[0].get(), output) ? "" : "its log-likelihood differs from statefilter's";
}

// Every double the inputs hold, cell elements included, bit for bit, in a
// fixed walk order.
void collectBits(const OrrimArray *array, std::vector<uint64_t> &bits) {
  if (array == nullptr) {
    return;
  }
  if (orrimIsCell(array)) {
    const uint64_t count = orrim::elementCount(array);
    for (uint64_t index = 0; index < count; ++index) {
      collectBits(orrimCellElement(array, index), bits);
    }
    return;
  }
  const double *data = orrimRealData(array);
  const uint64_t count = orrim::elementCount(array);
  for (uint64_t e = 0; e < count; ++e) {
    uint64_t word;
    std::memcpy(&word, data + e, sizeof word);
    bits.push_back(word);
  }
}

std::vector<uint64_t> inputBits(const std::vector<const OrrimArray *> &inputs) {
  std::vector<uint64_t> bits;
  for (const OrrimArray *input : inputs) {
    collectBits(input, bits);
  }
  return bits;
}

std::string dimensionsText(const std::vector<uint64_t> &dimensions) {
  std::ostringstream text;
  for (size_t d = 0; d < dimensions.size(); ++d) {
    text << (d > 0 ? " x " : "") << dimensions[d];
  }
  return text.str();
}

std::string faultsText(const std::set<std::string> &faults) {
  std::string text;
  for (const std::string &fault : faults) {
    text += (text.empty() ? "" : " or ") + fault;
  }
  return text;
}

// The first promise the call broke, or empty.
std::string violationOf(const GatewayContract &contract, const DecodedCall &call,
                        const std::vector<const OrrimArray *> &handles, const orrim::CallResult &result,
                        const orrim::Counters &before, const orrim::Counters &after) {
  const RuleVerdict verdict = contract.judge(contract.gateway, handles);
  const bool refused = !verdict.faults.empty();
  const std::string prefix = contract.gateway.errorPrefix;
  if (after.blocksLive != before.blocksLive || after.bytesLive != before.bytesLive) {
    return "blocks left allocated after the call";
  }
  if (result.failed) {
    const std::string &id = result.identifier;
    const std::string suffix = id.rfind(prefix, 0) == 0 ? id.substr(prefix.size()) : "";
    const bool inputError = suffix == "NotEnoughInputs" || suffix == "InputNotReal" || suffix == "InputTooSmall" ||
                            suffix == "InputShape" || suffix == "InvalidDiffuseStart";
    const bool lateError = contract.errorAfterAllocating != nullptr && suffix == contract.errorAfterAllocating;
    const bool moduleError = inputError || suffix == "TooLarge" || lateError;
    const bool hostError = id == "orrim:OutOfMemory" || id == "orrim:TooLarge";
    if (!moduleError && !hostError) {
      return "an identifier the module does not document: " + id;
    }
    if (!refused && inputError) {
      return "a call the input rules accept was refused with " + id;
    }
    // The modules count their working storage, which the rules do not,
    // after the shapes and before P0's values: its TooLarge comes before a
    // broken diffuse start.
    const bool storageBeforeDiffuseStart =
        suffix == "TooLarge" && verdict.faults == std::set<std::string>{"InvalidDiffuseStart"};
    if (refused && moduleError && verdict.faults.count(suffix) == 0 && !storageBeforeDiffuseStart) {
      return "the input rules find " + faultsText(verdict.faults) + ", and the call ended with " + id;
    }
    // The host's own bookkeeping may run out before the module runs; nothing
    // else may come before the checks.
    if (refused && hostError && !(id == "orrim:OutOfMemory" && call.memoryLimit != 0)) {
      return "a call the input rules refuse (" + faultsText(verdict.faults) + ") ended with " + id;
    }
    if (suffix == "NotEnoughInputs" && result.message != contract.gateway.countMessage) {
      return "the input count error has the message \"" + result.message + "\"";
    }
    if (result.message.empty() || result.message.find('\n') != std::string::npos) {
      return "not a one-line message: \"" + result.message + "\"";
    }
    if (!result.outputs.empty()) {
      return "a failed call handed back outputs";
    }
    // The module's own errors come from its checks, which run before it
    // creates or allocates anything, but for the one that needs storage,
    // which the module gives back itself.
    if (moduleError && after.blocksReclaimed != before.blocksReclaimed) {
      return id + " raised with blocks left for the host to reclaim";
    }
    if (moduleError && !lateError && after.allocations != before.allocations) {
      return id + " raised after the module had allocated";
    }
    return "";
  }
  if (refused) {
    return "a call the input rules refuse (" + faultsText(verdict.faults) + ") succeeded";
  }
  const size_t slots = static_cast<size_t>(call.outputCount == 0 ? 1 : call.outputCount);
  if (result.outputs.size() != slots || result.outputs[0] == nullptr) {
    return "no output in the first slot";
  }
  // Slots past those the module fills stay empty.
  const std::vector<std::vector<uint64_t>> expected = contract.outputDimensions(verdict, handles);
  uint64_t filled = 0;
  for (size_t slot = 0; slot < slots; ++slot) {
    const OrrimArray *output = result.outputs[slot].get();
    if (slot >= expected.size()) {
      if (output != nullptr) return "an output in slot " + std::to_string(slot);
      continue;
    }
    if (output == nullptr) return "no output in slot " + std::to_string(slot);
    if (orrimIsCell(output)) return "the output in slot " + std::to_string(slot) + " is a cell array";
    if (orrim::dimensions(output) != expected[slot]) {
      return "an output in slot " + std::to_string(slot) + " of " + dimensionsText(orrim::dimensions(output)) +
             ", not " + dimensionsText(expected[slot]);
    }
    ++filled;
  }
  if (after.blocksReclaimed != before.blocksReclaimed) {
    return "the host had to reclaim blocks the module did not free";
  }
  if (after.arraysLive != before.arraysLive + filled) {
    return "arrays other than the outputs left after the call";
  }
  return contract.crossCheck != nullptr ? contract.crossCheck(handles, result.outputs[0].get()) : "";
}

}  // namespace

const GatewayContract &statefilterContract() {
  static const GatewayContract contract{"statefilter", STATEFILTER_MODULE, statefilterGateway, judgeTableCall,
                                        filterOutputs, nullptr};
  return contract;
}

const GatewayContract &cellstatefilterContract() {
  static const GatewayContract contract{"cellstatefilter", CELLSTATEFILTER_MODULE, cellstatefilterGateway,
                                        judgeCellFilterCall, filterOutputs, agreesWithStatefilter};
  return contract;
}

const GatewayContract &statefiltergradientContract() {
  static const GatewayContract contract{"statefiltergradient", STATEFILTERGRADIENT_MODULE,
                                        statefiltergradientGateway,  judgeTableCall,
                                        gradientOutputs,             agreesWithStatefilterBitForBit};
  return contract;
}

const GatewayContract &statesmootherContract() {
  static const GatewayContract contract{"statesmoother", STATESMOOTHER_MODULE, statesmootherGateway, judgeTableCall,
                                        smootherOutputs, nullptr};
  return contract;
}

const GatewayContract &simulationsmootherContract() {
  static const GatewayContract contract{"simulationsmoother", SIMULATIONSMOOTHER_MODULE, simulationsmootherGateway,
                                        judgeTableCall,       drawOutputs,
                                        agreesWithItsFirstDrawAlone, "NotPositiveSemidefinite"};
  return contract;
}

CheckedCall checkGatewayCall(const GatewayContract &contract, const DecodedCall &call) {
  const orrim::Module &module = loaded(contract.modulePath);
  std::vector<const OrrimArray *> handles;
  for (const orrim::ArrayPtr &input : call.inputs) {
    handles.push_back(input.get());
  }
  const std::vector<uint64_t> bitsBefore = inputBits(handles);
  const orrim::Counters before = orrim::counters();
  orrim::setMemoryLimit(call.memoryLimit);
  orrim::CallResult result = module.call(call.outputCount, handles);
  orrim::setMemoryLimit(0);
  const orrim::Counters after = orrim::counters();

  CheckedCall checked;
  checked.failed = result.failed;
  checked.identifier = result.identifier;
  checked.message = result.message;
  checked.violation = violationOf(contract, call, handles, result, before, after);
  if (checked.violation.empty() && inputBits(handles) != bitsBefore) {
    checked.violation = "the call changed its inputs";
  }
  result.outputs.clear();
  if (checked.violation.empty() && orrim::counters().arraysLive != before.arraysLive) {
    checked.violation = "arrays left after the output was released";
  }
  return checked;
}

int fuzzOneCall(const GatewayContract &contract, const uint8_t *data, size_t size) {
  CheckedCall checked;
  {
    const DecodedCall call = decodeCall(data, size, inputCountOf(contract));
    checked = checkGatewayCall(contract, call);
  }
  if (checked.violation.empty() && (orrim::counters().arraysLive != 0 || orrim::counters().blocksLive != 0)) {
    checked.violation = "host arrays or blocks alive once the inputs were released";
  }
  if (!checked.violation.empty()) {
    std::fprintf(stderr, "%s broke its contract: %s\n(the call %s: %s %s)\n", contract.name.c_str(),
                 checked.violation.c_str(), checked.failed ? "failed" : "succeeded", checked.identifier.c_str(),
                 checked.message.c_str());
    std::abort();
  }
  return 0;
}

}  // namespace fuzzing

// The host asks for blocks no machine can give (a dimension of 2^40 and more)
// and must see null, as it would from the system allocator, so that the call
// ends with orrim:OutOfMemory; the sanitizer's default would stop the process.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }
