#pragma once

namespace kqcam {

// The process's peak resident memory so far, in kB (0 when the system cannot say): what a long
// run shows to prove that it does not grow.
long peakResidentKb();

}  // namespace kqcam
