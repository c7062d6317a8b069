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
extern const FxEffectDesc kFreePlaneBendEffect;
extern const FxEffectDesc kFreeRadBendEffect;
extern const FxEffectDesc kPerspectiveEffect;
extern const FxEffectDesc kFreeHandShearEffect;
extern const FxEffectDesc kWaveEffect;
extern const FxEffectDesc kRadWaveEffect;
extern const FxEffectDesc kZoomWaveEffect;
extern const FxEffectDesc kZigZagEffect;
extern const FxEffectDesc kFreeHandWaveEffect;
extern const FxEffectDesc kPlaneEffect;
extern const FxEffectDesc kPlaneBendEffect;

// Blur, light and glow
extern const FxEffectDesc kZoomBlurEffect;
extern const FxEffectDesc kRadialBlurEffect;
extern const FxEffectDesc kGlowFilterEffect;
extern const FxEffectDesc kLensFlareEffect;
extern const FxEffectDesc kDiffuseGlowEffect;
extern const FxEffectDesc kLightEffect;
extern const FxEffectDesc kFunctionalLightEffect;
extern const FxEffectDesc kBumpMapEffect;
extern const FxEffectDesc kVignetteEffect;
extern const FxEffectDesc kAddShadowEffect;
extern const FxEffectDesc kWindEffect;
extern const FxEffectDesc kDrawStarEffect;

// Artistic, tile and texture
extern const FxEffectDesc kImpressionistEffect;
extern const FxEffectDesc kPixelateEffect;
extern const FxEffectDesc kPointillistEffect;
extern const FxEffectDesc kColoredBallsEffect;
extern const FxEffectDesc kRingEffect;
extern const FxEffectDesc kPuzzleEffect;
extern const FxEffectDesc kDiceEffect;
extern const FxEffectDesc kFragmentEffect;
extern const FxEffectDesc kMosaicTilesEffect;
extern const FxEffectDesc kCanvasEffect;
extern const FxEffectDesc kRomanMosaicEffect;
extern const FxEffectDesc kRevEffectEffect;
extern const FxEffectDesc kGlassEffectEffect;
extern const FxEffectDesc kOceanEffect;
extern const FxEffectDesc kBricksTextureEffect;
extern const FxEffectDesc kColoredPencilEffect;
extern const FxEffectDesc kColoredPencilExtEffect;
extern const FxEffectDesc kDryEffect;
extern const FxEffectDesc kAgingEffect;

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
    &kFreePlaneBendEffect,
    &kFreeRadBendEffect,
    &kPerspectiveEffect,
    &kFreeHandShearEffect,
    &kWaveEffect,
    &kRadWaveEffect,
    &kZoomWaveEffect,
    &kZigZagEffect,
    &kFreeHandWaveEffect,
    &kPlaneEffect,
    &kPlaneBendEffect,
    // Blur, light and glow
    &kZoomBlurEffect,
    &kRadialBlurEffect,
    &kGlowFilterEffect,
    &kLensFlareEffect,
    &kDiffuseGlowEffect,
    &kLightEffect,
    &kFunctionalLightEffect,
    &kBumpMapEffect,
    &kVignetteEffect,
    &kAddShadowEffect,
    &kWindEffect,
    &kDrawStarEffect,
    // Artistic, tile and texture
    &kImpressionistEffect,
    &kPixelateEffect,
    &kPointillistEffect,
    &kColoredBallsEffect,
    &kRingEffect,
    &kPuzzleEffect,
    &kDiceEffect,
    &kFragmentEffect,
    &kMosaicTilesEffect,
    &kCanvasEffect,
    &kRomanMosaicEffect,
    &kRevEffectEffect,
    &kGlassEffectEffect,
    &kOceanEffect,
    &kBricksTextureEffect,
    &kColoredPencilEffect,
    &kColoredPencilExtEffect,
    &kDryEffect,
    &kAgingEffect,
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
