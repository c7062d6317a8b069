/* fxkit: image special effects with a C ABI. Include this one header. */
#ifndef FXKIT_FXKIT_H
#define FXKIT_FXKIT_H

#include "fxkit/types.h"
#include "fxkit/host.h"
#include "fxkit/effects.h"
#include "fxkit/registry.h"

#endif
