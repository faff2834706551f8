// Loading a module, calling its gateway, and ending a call by error.
#include "host_internal.h"
#include "orrim_host.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <new>
#include <utility>

namespace orrim {
namespace detail {

void raiseModuleError(const char *identifier, const char *format, ...) {
  ModuleError error;
  std::snprintf(error.identifier, sizeof error.identifier, "%s", identifier);
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(error.message, sizeof error.message, format, arguments);
  va_end(arguments);
  throw error;
}

}  // namespace detail

namespace {

using GatewayFunction = void (*)(int32_t, OrrimArray *[], int32_t, const OrrimArray *[]);

// The input handles as the gateway receives them. Its parameter is a mutable
// array, so it gets a copy and the caller's list stays as it was; the usual
// few sit on the stack. Never a null pointer, even for no inputs; null data()
// when a long list found no memory.
class GatewayInputs {
 public:
  explicit GatewayInputs(const std::vector<const OrrimArray *> &inputs) {
    if (inputs.size() > inlineCount) {
      grown_.reset(new (std::nothrow) const OrrimArray *[inputs.size()]);
      handles_ = grown_.get();
      if (handles_ == nullptr) {
        return;
      }
    }
    std::copy(inputs.begin(), inputs.end(), handles_);
  }
  const OrrimArray **data() { return handles_; }

 private:
  static constexpr size_t inlineCount = 16;
  const OrrimArray *inline_[inlineCount] = {};
  std::unique_ptr<const OrrimArray *[]> grown_;
  const OrrimArray **handles_ = inline_;
};

detail::ModuleError errorOf(const char *identifier, const char *message) {
  detail::ModuleError error;
  std::snprintf(error.identifier, sizeof error.identifier, "%s", identifier);
  std::snprintf(error.message, sizeof error.message, "%s", message);
  return error;
}

// Copying the error's texts into the result needs memory too. Without it the
// caller still learns that memory ran out, through a message short enough to
// need none of its own; should even the identifier find none, std::bad_alloc
// leaves the call, which has released everything by then.
void describeFailure(CallResult &result, const detail::ModuleError &error) {
  result.failed = true;
  try {
    result.identifier = error.identifier;
    result.message = error.message;
    return;
  } catch (const std::bad_alloc &) {
  }
  result.message = "Out of memory.";
  result.identifier = detail::outOfMemoryIdentifier;
}

}  // namespace

Module::Module(std::string path, void *handle, void *gateway)
    : path_(std::move(path)), handle_(handle), gateway_(gateway) {}

Module Module::load(const std::string &path) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *reason = dlerror();
    throw HostError("cannot load module " + path + ": " + (reason != nullptr ? reason : "unknown reason"));
  }
  void *gateway = dlsym(handle, "orrimGateway");
  if (gateway == nullptr) {
    dlclose(handle);
    throw HostError("module " + path + " exports no orrimGateway");
  }
  return Module(path, handle, gateway);
}

Module::Module(Module &&other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, nullptr)),
      gateway_(std::exchange(other.gateway_, nullptr)) {}

Module &Module::operator=(Module &&other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
    gateway_ = std::exchange(other.gateway_, nullptr);
  }
  return *this;
}

Module::~Module() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}

CallResult Module::call(int32_t outputCount, const std::vector<const OrrimArray *> &inputs) const {
  if (outputCount < 0 || outputCount > maxOutputCount) {
    throw HostError("output count " + std::to_string(outputCount) + " is outside 0 to " +
                    std::to_string(maxOutputCount));
  }
  if (inputs.size() > static_cast<size_t>(INT32_MAX)) {
    throw HostError("more inputs than a 32-bit count holds");
  }
  // A module always stores outputs[0], even when the caller wants no output.
  const size_t handedOver = outputCount == 0 ? 1 : static_cast<size_t>(outputCount);
  CallResult result;
  GatewayInputs gatewayInputs(inputs);
  bool ready = gatewayInputs.data() != nullptr;
  if (ready) {
    try {
      result.outputs.reserve(handedOver);  // handing the outputs over then cannot fail
    } catch (const std::bad_alloc &) {
      ready = false;
    }
  }
  if (!ready) {
    describeFailure(result, errorOf(detail::outOfMemoryIdentifier, "Out of memory preparing the call."));
    return result;
  }

  detail::ModuleError failure;
  bool failed = true;
  {
    detail::CallRecord record;
    OrrimArray *slots[maxOutputCount] = {};
    try {
      reinterpret_cast<GatewayFunction>(gateway_)(outputCount, slots, static_cast<int32_t>(inputs.size()),
                                                 gatewayInputs.data());
      record.handOverOutputs(slots, handedOver, result.outputs);
      failed = false;
    } catch (const detail::ModuleError &error) {
      failure = error;
    } catch (const std::bad_alloc &) {
      failure = errorOf(detail::outOfMemoryIdentifier, "The module ran out of memory.");
    } catch (const std::exception &error) {
      failure = errorOf("orrim:ModuleFailure", error.what());
    } catch (...) {
      failure = errorOf("orrim:ModuleFailure", "The module ended with an unknown exception.");
    }
  }  // the record ends here, on every path: whatever the call still holds goes back to the host
  if (failed) {
    describeFailure(result, failure);
  }
  return result;
}

}  // namespace orrim

extern "C" void orrimRaiseError(const char *identifier, const char *message) {
  orrim::detail::raiseModuleError(identifier != nullptr ? identifier : "", "%s", message != nullptr ? message : "");
}
