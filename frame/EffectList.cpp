// The one explicit list of effect descriptors. Each descriptor is defined beside its export.
#include "frame/RegistryDefs.h"

namespace fx {

// Geometric distortions
extern const FxEffectDesc kSwirlEffect;
extern const FxEffectDesc kSpherizeEffect;
extern const FxEffectDesc kCylindricalEffect;
extern const FxEffectDesc kBendingEffect;
extern const FxEffectDesc kPunchEffect;
extern const FxEffectDesc kPolarEffect;
extern const FxEffectDesc kTunnelEffect;
extern const FxEffectDesc kRippleEffect;

// Blur, light and glow
extern const FxEffectDesc kZoomBlurEffect;
extern const FxEffectDesc kRadialBlurEffect;
extern const FxEffectDesc kAddShadowEffect;

// Artistic, tile and texture
extern const FxEffectDesc kImpressionistEffect;
extern const FxEffectDesc kPixelateEffect;
extern const FxEffectDesc kMosaicTilesEffect;
extern const FxEffectDesc kCanvasEffect;
extern const FxEffectDesc kRomanMosaicEffect;
extern const FxEffectDesc kRevEffectEffect;
extern const FxEffectDesc kGlassEffectEffect;
extern const FxEffectDesc kOceanEffect;

// Procedural textures
extern const FxEffectDesc kCloudsEffect;
extern const FxEffectDesc kPerlinEffect;
extern const FxEffectDesc kPlasmaFilterEffect;

// Content-aware rescaling
extern const FxEffectDesc kIntelligentDownScaleEffect;
extern const FxEffectDesc kIntelligentUpScaleEffect;

const FxEffectDesc* const kEffectList[] = {
    // Geometric distortions
    &kSwirlEffect,
    &kSpherizeEffect,
    &kCylindricalEffect,
    &kBendingEffect,
    &kPunchEffect,
    &kPolarEffect,
    &kTunnelEffect,
    &kRippleEffect,
    // Blur, light and glow
    &kZoomBlurEffect,
    &kRadialBlurEffect,
    &kAddShadowEffect,
    // Artistic, tile and texture
    &kImpressionistEffect,
    &kPixelateEffect,
    &kMosaicTilesEffect,
    &kCanvasEffect,
    &kRomanMosaicEffect,
    &kRevEffectEffect,
    &kGlassEffectEffect,
    &kOceanEffect,
    // Procedural textures
    &kCloudsEffect,
    &kPerlinEffect,
    &kPlasmaFilterEffect,
    // Content-aware rescaling
    &kIntelligentDownScaleEffect,
    &kIntelligentUpScaleEffect,
};
const uint32_t kEffectListSize = CountOf(kEffectList);

}  // namespace fx
