// The one explicit list of effect descriptors. Each descriptor is defined beside its export.
#include "Common/RegistryDefs.h"

namespace fx {

// Geometric distortions
extern const FxEffectDesc kSwirlEffect;

// Blur, light and glow

// Artistic, tile and texture

// Procedural textures

// Content-aware rescaling
extern const FxEffectDesc kIntelligentDownScaleEffect;
extern const FxEffectDesc kIntelligentUpScaleEffect;

const FxEffectDesc* const kEffectList[] = {
    // Geometric distortions
    &kSwirlEffect,
    // Blur, light and glow
    // Artistic, tile and texture
    // Procedural textures
    // Content-aware rescaling
    &kIntelligentDownScaleEffect,
    &kIntelligentUpScaleEffect,
};
const uint32_t kEffectListSize = CountOf(kEffectList);

}  // namespace fx
