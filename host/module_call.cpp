// Loading a module, calling its gateway, and ending a call by error.
#include "host_internal.h"
#include "orrim_host.hpp"

#include <dlfcn.h>

#include <exception>
#include <mutex>
#include <utility>

namespace orrim {
namespace detail {
namespace {
thread_local CallRecord *callInProgress = nullptr;
}

CallRecord *currentCall() { return callInProgress; }

void setCurrentCall(CallRecord *record) { callInProgress = record; }

void raiseModuleError(const std::string &identifier, const std::string &message) {
  throw ModuleError{identifier, message};
}

}  // namespace detail

using GatewayFunction = void (*)(int32_t, OrrimArray *[], int32_t, const OrrimArray *[]);

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
  if (outputCount < 0) {
    throw HostError("negative output count");
  }
  CallResult result;
  // One slot more than asked for: a module always stores outputs[0], even
  // when the caller wants no output.
  std::vector<OrrimArray *> slots(static_cast<size_t>(outputCount) + 1, nullptr);
  std::vector<const OrrimArray *> inputSlots = inputs;
  inputSlots.push_back(nullptr);  // never a null data() for an empty list

  detail::CallRecord record;
  detail::CallRecord *outer = detail::currentCall();
  detail::setCurrentCall(&record);
  try {
    reinterpret_cast<GatewayFunction>(gateway_)(outputCount, slots.data(), static_cast<int32_t>(inputs.size()),
                                               inputSlots.data());
  } catch (const detail::ModuleError &error) {
    result.failed = true;
    result.identifier = error.identifier;
    result.message = error.message;
  } catch (const std::exception &error) {
    result.failed = true;
    result.identifier = "orrim:ModuleFailure";
    result.message = error.what();
  } catch (...) {
    result.failed = true;
    result.identifier = "orrim:ModuleFailure";
    result.message = "The module ended with an unknown exception.";
  }
  detail::setCurrentCall(outer);
  detail::reclaimBlocks(record);

  // Hand back what the module created and stored; anything else it created,
  // and everything after an error, goes back to the host.
  const size_t kept = result.failed ? 0 : static_cast<size_t>(outputCount == 0 ? 1 : outputCount);
  for (size_t slot = 0; slot < kept; ++slot) {
    OrrimArray *output = slots[slot];
    if (output != nullptr && record.createdArrays.erase(output) == 1) {
      result.outputs.emplace_back(output);
    } else {
      result.outputs.emplace_back(nullptr);
    }
  }
  for (OrrimArray *orphan : record.createdArrays) {
    detail::destroyArray(orphan);
  }
  return result;
}

}  // namespace orrim

extern "C" void orrimRaiseError(const char *identifier, const char *message) {
  orrim::detail::raiseModuleError(identifier != nullptr ? identifier : "", message != nullptr ? message : "");
}
