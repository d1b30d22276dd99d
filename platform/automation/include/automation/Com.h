#pragma once
// What the converter uses of COM: initialisation per thread, a ProgID -> class registry, and
// creating an object of a class as a local server. Servers (real ones backed by an office suite,
// or scripted fakes in tests) enter the registry with RegisterClass.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "automation/Dispatch.h"
#include "automation/HResult.h"

namespace automation {

struct CLSID {
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const CLSID&, const CLSID&) = default;
};

constexpr std::uint32_t COINIT_MULTITHREADED = 0;
constexpr std::uint32_t COINIT_APARTMENTTHREADED = 2;

constexpr std::uint32_t CLSCTX_INPROC_SERVER = 1;
constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 4;

// Counted per thread: S_OK for the first call, S_FALSE for each further one in the same mode,
// RPC_E_CHANGED_MODE (not counted) for a different mode. `reserved` must be null.
HRESULT CoInitializeEx(void* reserved, std::uint32_t coInit);
// Undoes one successful CoInitializeEx of the calling thread; extra calls do nothing.
void CoUninitialize();
bool IsComInitialized();

// Makes a new server object with one reference owned by the caller, stored in *object; a failure
// HRESULT makes CoCreateInstance fail with it. Called on the creating thread, outside any lock.
using ClassFactory = std::function<HRESULT(IDispatch** object)>;

// Registers (or replaces the factory of) a local-server class under a ProgID such as
// u"PowerPoint.Application"; ProgIDs match without regard to ASCII letter case. Returns the
// class's CLSID, which stays the same when the ProgID is registered again.
CLSID RegisterClass(std::u16string progId, ClassFactory factory);
// Removes the ProgID; false when it was not registered.
bool UnregisterClass(std::u16string_view progId);

// CO_E_CLASSSTRING when the ProgID is not registered; E_POINTER for a null clsid.
HRESULT CLSIDFromProgID(std::u16string_view progId, CLSID* clsid);

// Creates an object of the class. Fails with CO_E_NOTINITIALIZED on a thread without COM,
// CLASS_E_NOAGGREGATION for an outer object, REGDB_E_CLASSNOTREG for an unknown class or a
// context without CLSCTX_LOCAL_SERVER, the factory's failure, or CO_E_SERVER_EXEC_FAILURE when
// the factory throws or gives no object. *object is null on failure.
HRESULT CoCreateInstance(const CLSID& clsid, IDispatch* outer, std::uint32_t clsContext,
                         IDispatch** object);

}  // namespace automation
