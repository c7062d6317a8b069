// The one explicit list of effect descriptors. Each descriptor is defined beside its export.
#include "Common/RegistryDefs.h"

namespace fx {

// Geometric distortions
extern const FxEffectDesc kSwirlEffect;
extern const FxEffectDesc kPolarEffect;
extern const FxEffectDesc kTunnelEffect;
extern const FxEffectDesc kRippleEffect;

// Blur, light and glow

// Artistic, tile and texture

// Procedural textures

// Content-aware rescaling

const FxEffectDesc* const kEffectList[] = {
    // Geometric distortions
    &kSwirlEffect,
    &kPolarEffect,
    &kTunnelEffect,
    &kRippleEffect,
    // Blur, light and glow
    // Artistic, tile and texture
    // Procedural textures
    // Content-aware rescaling
};
const uint32_t kEffectListSize = CountOf(kEffectList);

}  // namespace fx
