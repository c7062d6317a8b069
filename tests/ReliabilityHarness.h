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
const Format& FormatNamed(const char* name);  // the first format for an unknown name

// A bitmap the harness creates and frees.
class Bitmap {
 public:
  Bitmap() = default;
  virtual ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  // Width x Height as seen in `orientation`, zero pixels. Returns the host's code.
  int32_t Allocate(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                   uint8_t orientation);
  // As Allocate, with the pixels filled from `seed`.
  int32_t Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                 uint8_t orientation, uint32_t seed);
  BitmapRecord* get() { return &record_; }
  const BitmapRecord* get() const { return &record_; }
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

// The working rows of the current view and their layout; no rows when the bitmap is unreadable.
struct Working {
  std::vector<uint8_t> rows;
  int32_t sampleBits = 0, pixelStep = 0, rowBytes = 0;
};
Working ReadWorking(BitmapRecord* bitmap);
// Stored rows of a bitmap (padding excluded); empty for a record without storage.
std::vector<uint8_t> StoredBytes(const BitmapRecord* bitmap);
// Host blocks a record holds: its storage and palette when the host owns them, its region. An
// effect that replaces the storage or drops the region changes them without leaking.
int64_t OwnedBlocks(const BitmapRecord* bitmap);

// Everything a call may change, taken before it with no fault plan armed (row access allocates).
struct Snapshot {
  BitmapRecord record{};
  std::vector<uint8_t> stored;
  Working working;
  std::vector<uint8_t> inRegion;  // per view pixel: inside the region (all 1 without one)
  bool hasRegion = false;
  int64_t ownedBlocks = 0;
};
Snapshot Take(BitmapRecord* bitmap);

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
  // One coordinate (axis 0: x, 1: y) of a point; the other keeps its default.
  void SetPointCoordinate(uint32_t param, int axis, int32_t value);
  // Record, array or bitmap pointer null (its count parameter then defaults to 0).
  void SetNull(uint32_t param);
  // Records and record arrays: every record starts from the field defaults.
  void SetRecordCount(uint32_t param, uint32_t count);
  // A scalar field; array fields (kind INT_ARRAY) take SetRecordArray instead.
  void SetRecordField(uint32_t param, uint32_t record, uint32_t field, int64_t value);
  // An array field: a copy of `values` kept by the call, or null.
  void SetRecordArray(uint32_t param, uint32_t record, uint32_t field,
                      const std::vector<int32_t>* values);
  void SetRecordSize(uint32_t param, uint32_t size);  // size field of the first record
  void SetArray(uint32_t param, std::vector<int32_t> values);
  // Takes ownership of a bitmap for a bitmap parameter.
  void SetBitmap(uint32_t param, std::unique_ptr<Bitmap> bitmap);

  // Defaults for every parameter not set, as the registry forms them for `bitmap`.
  void Resolve(BitmapRecord* bitmap);
  // Fixes the generator and clocks as PrepareRun does, then calls FxInvoke naming every
  // parameter.
  int32_t Invoke(BitmapRecord* bitmap, int run = 0) const;

 private:
  struct Arg;
  Arg& Given(uint32_t param);  // marks the argument set and not null
  Arg& EnsureRecords(uint32_t param);
  const FxEffectDesc* effect_;
  std::vector<Arg> args_;
};

// Seeds the generator and fixes the clocks for `run`: run 1 sees other values than run 0
// unless the effect's traits say it uses them, so an undeclared use shows as a difference.
void PrepareRun(const FxEffectDesc* effect, int run);

// The 32-bit pattern of `value` in the canonical int64 form of the parameter's kind.
int64_t Canonical(FxKind kind, int64_t value);

// A result code the library names.
bool IsKnownCode(int32_t rc);

// What a finished call is checked against.
struct CallContext {
  const FxEffectDesc* effect = nullptr;  // null: a call outside the registry, traits unknown
  int32_t rc = SUCCESS;
  int64_t blocksBefore = 0;             // HostLiveBlocks() just before the call
  FxStatusCallback callback = nullptr;  // the pair installed around the call
  void* userData = nullptr;
  bool extraCodesAllowed = false;  // codes injected by the caller (faults, cancels)
};

// Problems with a finished call, one per line; empty when clean. Checks the code, the live
// blocks, the status callback and the orientation; then, for a registry effect, the geometry
// and format (unless the effect resizes), that a readable bitmap stays readable, that no pixel
// outside the region changed (unless the effect resizes), and that a fourth sample kept its
// value (unless the effect works through whole-image operations).
std::string CheckCall(const CallContext& context, const Snapshot& before, BitmapRecord* after);

// Resolves `call` against `bitmap`, invokes it and checks it; *rc gets the effect's code.
std::string InvokeChecked(EffectCall& call, BitmapRecord* bitmap, int32_t* rc, int run = 0);

}  // namespace fxrel
