#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

// Fading correction of a merged multi-shot image ((W f) x (H f) of `rect`): pixels that share a
// position in the shot grid (2f x 2f on the colour model, f x f on the mono one) came from the
// same shot; each class is scaled about the pedestal up to the brightest class, unless the
// largest gain is below 1 + minimumChange or above 1 + gainLimit. The colour variant reports
// why it left an image unchanged; the mono one is silent.
//
// Thread context: the acquisition's thread; pure function of its arguments.
void fadingcorrection(uint16_t* image, uint32_t f, const Rect& rect, double minimumChange,
                      double gainLimit);
void fadingcorrectionbw(uint16_t* image, uint32_t f, const Rect& rect, double minimumChange,
                        double gainLimit);

}  // namespace kqfw
