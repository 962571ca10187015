// The published initial state of Blowfish (digits of pi).
#pragma once

#include <cstdint>

namespace talvek::accounts {

extern const uint32_t kBlowfishInitialP[18];
extern const uint32_t kBlowfishInitialS[4][256];

}  // namespace talvek::accounts
