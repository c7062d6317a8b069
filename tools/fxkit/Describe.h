// Text the command line prints about the registry: the effect list, an effect's help, and
// result codes by name.
#pragma once

#include <cstdint>
#include <string>

#include "fxkit/fxkit.h"

namespace fxcli {

enum class ListStyle { Families, ShortNames, ExportNames };
// Effects by family with summaries, or one short or export name per line.
std::string EffectListText(ListStyle style);
// Parameters (kinds, defaults, ranges, help), record fields, presets and a usage line.
std::string EffectHelpText(const FxEffectDesc& effect);
// "ERROR_POINT_OUT_OF_RANGE (-11)"; codes without a name print as "UNKNOWN_RESULT (N)".
std::string ResultText(int32_t code);

}  // namespace fxcli
