#include "automation/Com.h"

#include <mutex>
#include <random>
#include <vector>

namespace automation {

namespace {

struct ComState {
  int count = 0;
  std::uint32_t mode = 0;
};

thread_local ComState tComState;

struct RegisteredClass {
  std::u16string progId;
  CLSID clsid;
  ClassFactory factory;
};

std::mutex gRegistryMutex;

std::vector<RegisteredClass>& Registry() {
  static std::vector<RegisteredClass> classes;
  return classes;
}

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool SameProgId(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

CLSID NewClsid() {
  static std::mt19937_64 generator{std::random_device{}()};
  CLSID clsid;
  for (std::size_t i = 0; i < clsid.bytes.size(); i += 8) {
    std::uint64_t bits = generator();
    for (std::size_t b = 0; b < 8; ++b)
      clsid.bytes[i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  // Random (version 4) GUID layout.
  clsid.bytes[6] = static_cast<std::uint8_t>((clsid.bytes[6] & 0x0F) | 0x40);
  clsid.bytes[8] = static_cast<std::uint8_t>((clsid.bytes[8] & 0x3F) | 0x80);
  return clsid;
}

}  // namespace

HRESULT CoInitializeEx(void* reserved, std::uint32_t coInit) {
  if (reserved != nullptr) return E_INVALIDARG;
  ComState& state = tComState;
  if (state.count > 0) {
    if (state.mode != coInit) return RPC_E_CHANGED_MODE;
    ++state.count;
    return S_FALSE;
  }
  state.count = 1;
  state.mode = coInit;
  return S_OK;
}

void CoUninitialize() {
  if (tComState.count > 0) --tComState.count;
}

bool IsComInitialized() {
  return tComState.count > 0;
}

CLSID RegisterClass(std::u16string progId, ClassFactory factory) {
  std::lock_guard lock(gRegistryMutex);
  for (RegisteredClass& entry : Registry()) {
    if (SameProgId(entry.progId, progId)) {
      entry.factory = std::move(factory);
      return entry.clsid;
    }
  }
  CLSID clsid = NewClsid();
  Registry().push_back({std::move(progId), clsid, std::move(factory)});
  return clsid;
}

bool UnregisterClass(std::u16string_view progId) {
  std::lock_guard lock(gRegistryMutex);
  auto& classes = Registry();
  for (auto it = classes.begin(); it != classes.end(); ++it) {
    if (SameProgId(it->progId, progId)) {
      classes.erase(it);
      return true;
    }
  }
  return false;
}

HRESULT CLSIDFromProgID(std::u16string_view progId, CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  std::lock_guard lock(gRegistryMutex);
  for (const RegisteredClass& entry : Registry()) {
    if (SameProgId(entry.progId, progId)) {
      *clsid = entry.clsid;
      return S_OK;
    }
  }
  *clsid = CLSID{};
  return CO_E_CLASSSTRING;
}

HRESULT CoCreateInstance(const CLSID& clsid, IDispatch* outer, std::uint32_t clsContext,
                         IDispatch** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsComInitialized()) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((clsContext & CLSCTX_LOCAL_SERVER) == 0) return REGDB_E_CLASSNOTREG;

  ClassFactory factory;
  {
    std::lock_guard lock(gRegistryMutex);
    for (const RegisteredClass& entry : Registry()) {
      if (entry.clsid == clsid) {
        factory = entry.factory;
        break;
      }
    }
  }
  if (!factory) return REGDB_E_CLASSNOTREG;

  IDispatch* created = nullptr;
  HRESULT hr = E_FAIL;
  try {
    hr = factory(&created);
  } catch (...) {
    if (created != nullptr) created->Release();
    return CO_E_SERVER_EXEC_FAILURE;
  }
  if (Failed(hr)) {
    if (created != nullptr) created->Release();
    return hr;
  }
  if (created == nullptr) return CO_E_SERVER_EXEC_FAILURE;
  *object = created;
  return S_OK;
}

}  // namespace automation
