// Registry-driven calls for the reliability sweeps and the fuzz target: the arguments of any
// registered effect resolved into storage the call owns (defaults, chosen scalars, records,
// arrays and bitmaps), the generator and clocks fixed per run, and the checks every finished
// call must pass. Free of GoogleTest so the fuzz target can link it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fxkit/fxkit.h"
#include "host/Host.h"

namespace fxrel {

// Every stored format the host holds: bits per pixel and order.
struct Format {
  int32_t bitsPerPixel;
  uint32_t order;
  const char* name;
};
const std::vector<Format>& Formats();

// A bitmap the harness creates and frees.
class Bitmap {
 public:
  Bitmap() = default;
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  // Width x Height as seen in `orientation`; pixels filled from `seed`. Returns the host's code.
  int32_t Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                 uint8_t orientation, uint32_t seed);
  BitmapRecord* get() { return &record_; }
  BitmapRecord* operator->() { return &record_; }

 private:
  BitmapRecord record_{};
};

// Deterministic stored bytes (palette indices inside the palette, 12-bit values in range).
void FillNoise(BitmapRecord* bitmap, uint32_t seed);

// Regions the sweeps use, in the current view: a rectangle inside the bitmap, or a mask of a
// ring with a notch (several runs per row, rows and columns without any pixel).
int32_t SetRectRegion(BitmapRecord* bitmap);
int32_t SetMaskRegion(BitmapRecord* bitmap);

// A bitmap for one sweep step: format, size as seen in the orientation, region, content.
enum class RegionKind { None, Rect, Mask };
struct Scene {
  Format format;
  int32_t width, height;
  uint8_t orientation;
  RegionKind region;
  uint32_t seed;
};
// Creates the scene's bitmap; the host's code.
int32_t MakeScene(Bitmap& bitmap, const Scene& scene);
std::string Describe(const Scene& scene);

// Everything a call may change, taken before it.
struct Snapshot {
  std::vector<uint8_t> stored;   // stored rows, padding excluded
  std::vector<uint8_t> working;  // working rows of the current view (empty when unreadable)
  int32_t width = 0, height = 0, storedWidth = 0, storedHeight = 0, bitsPerPixel = 0;
  int32_t sampleBits = 0, pixelStep = 0, rowBytes = 0;
  uint32_t order = 0, flags = 0, structSize = 0;
  uint8_t orientation = 0;
  bool hasRegion = false;
  int64_t ownedBlocks = 0;        // host blocks the record holds (storage, palette, region)
  std::vector<uint8_t> inRegion;  // per view pixel: inside the region (all 1 without one)
};
// Reads the snapshot with no fault plan armed (row access allocates).
Snapshot Take(BitmapRecord* bitmap);
// Host blocks a record holds: its storage and palette when the host owns them, its region. An
// effect that replaces the storage or drops the region changes them without leaking.
int64_t OwnedBlocks(const BitmapRecord* bitmap);
// Stored rows of a bitmap (padding excluded); empty for a record without storage.
std::vector<uint8_t> StoredBytes(const BitmapRecord* bitmap);

// The resolved arguments of one call. Values set explicitly stay; Resolve gives every other
// parameter its registry default for the bitmap. All storage, bitmap copies included, is made
// before Invoke, so a fault plan armed around Invoke sees only the effect's own operations.
class EffectCall {
 public:
  explicit EffectCall(const FxEffectDesc* effect);
  ~EffectCall();
  EffectCall(const EffectCall&) = delete;
  EffectCall& operator=(const EffectCall&) = delete;

  const FxEffectDesc* effect() const { return effect_; }

  // Scalars (int32, uint32, flags, colour and count parameters); the value is the 32-bit
  // pattern, passed sign-extended for int32 kinds and zero-extended for the others.
  void SetValue(uint32_t param, int64_t value);
  void SetPoint(uint32_t param, POINT point);
  // One coordinate (axis 0: x, 1: y) of a point; the other keeps its default.
  void SetPointCoordinate(uint32_t param, int axis, int32_t value);
  // Record, array or bitmap pointer null (its count parameter then defaults to 0).
  void SetNull(uint32_t param);
  // Records and record arrays: every record starts from the field defaults.
  void SetRecordCount(uint32_t param, uint32_t count);
  void SetRecordField(uint32_t param, uint32_t record, uint32_t field, int64_t value);
  void SetRecordSize(uint32_t param, uint32_t size);  // size field of the first record
  void SetArray(uint32_t param, std::vector<int32_t> values);
  // Takes ownership of a bitmap for a bitmap parameter.
  void SetBitmap(uint32_t param, std::unique_ptr<Bitmap> bitmap);

  // Defaults for every parameter not set (centre and percentages from the bitmap as it is).
  void Resolve(BitmapRecord* bitmap);
  // Seeds the generator and fixes the clocks for the effect's traits (run 0 and run 1 of a pair
  // see different generator and clock values unless the traits say they are used), then calls
  // FxInvoke with every parameter named.
  int32_t Invoke(BitmapRecord* bitmap, int run = 0) const;

 private:
  struct Arg;
  Arg& EnsureRecords(uint32_t param);
  const FxEffectDesc* effect_;
  std::vector<std::unique_ptr<Arg>> args_;
};

// Sets the generator and the clocks as Invoke does for `run` without calling anything.
void PrepareRun(const FxEffectDesc* effect, int run);

// The 32-bit pattern of `value` in the canonical int64 form of the parameter's kind.
int64_t Canonical(FxKind kind, int64_t value);

// A result code the library or the registry can answer.
bool IsKnownCode(int32_t rc);

// What a finished call is checked against.
struct CallContext {
  const FxEffectDesc* effect = nullptr;
  int32_t rc = SUCCESS;
  int64_t blocksBefore = 0;             // HostLiveBlocks() just before the call
  FxStatusCallback callback = nullptr;  // the pair installed around the call
  void* userData = nullptr;
  bool extraCodesAllowed = false;  // codes injected by the caller (faults, cancels)
};

// Problems with a finished call, one per line; empty when clean. Checks the code, the live
// blocks, the status callback, the orientation, the geometry and format (unless the effect
// resizes), that a readable bitmap stays readable, that no pixel outside the region changed
// (unless the effect resizes), and that a fourth sample kept its value (unless the effect
// works through whole-image operations).
std::string CheckCall(const CallContext& context, const Snapshot& before, BitmapRecord* after);

// Short name with characters GoogleTest accepts in test names.
std::string TestName(const FxEffectDesc* effect);

}  // namespace fxrel
