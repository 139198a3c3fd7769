#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"
#include "processing/simd_level.h"

namespace kqfw {

// Grey and binned images from the colour model's corrected raw frame (W x H of imageRect, or
// W x H / b rows when the camera binned b rows). Any thread; each touches only its buffers.
// Every level gives the plain level's output.

// A grey W x H image: the ratio method's colour image, averaged as ((blue + red) / 2 + green) / 2.
void AssembleSingleMono(SimdLevel level, const FrameRecipe& context, uint16_t* output,
                        const uint16_t* raw);
// A grey image of w' x h' (the binned size rounded down to even) by averaging b raw samples.
void AssembleGrey(SimdLevel level, const FrameRecipe& context, uint16_t* output,
                  const uint16_t* raw);
// RGB16 images of w' x h' from frames whose rows the camera binned by 3 or 5: the mixtures of
// the mosaic's rows are solved back into red, green and blue.
void AssembleBinned3(const FrameRecipe& context, uint16_t* output, const uint16_t* raw);
void AssembleBinned5(const FrameRecipe& context, uint16_t* output, const uint16_t* raw);

}  // namespace kqfw
