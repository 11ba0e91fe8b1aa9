// The fixed-point crop positions shared by the compositor and its row kernels: a destination
// pixel's source position (u, v) in the crop is held in whole 1/1024ths of a crop pixel, and its
// fraction selects one of 32 sub-pixel phases of the tap tables.
#pragma once

namespace le::paste {

// Bits below the binary point of a position: u >> kFracBits is the crop pixel.
inline constexpr int kFracBits = 10;
inline constexpr int kOne = 1 << kFracBits;
// Bits of the fraction that select a phase: (u >> kPhaseShift) & kPhaseMask.
inline constexpr int kPhaseBits = 5;
inline constexpr int kPhases = 1 << kPhaseBits;
inline constexpr int kPhaseShift = kFracBits - kPhaseBits;
inline constexpr int kPhaseMask = kPhases - 1;
// Half a phase, added to every row base so that truncating to a phase rounds to the nearest one.
inline constexpr int kHalfPhase = 1 << (kPhaseShift - 1);
// The Lanczos window reaches this many pixels before the one a position falls in (and one more
// after it): its eight taps weigh pixels px - 3 .. px + 4.
inline constexpr int kLanczosReach = 3;
// Largest crop side the compositor serves; its row buffers live on the stack.
inline constexpr int kMaxSide = 1024;

}  // namespace le::paste
