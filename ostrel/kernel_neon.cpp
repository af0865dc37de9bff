// The kernel for aarch64: 16 bytes a step. AdvSIMD is part of every
// aarch64 processor, so this file needs no flag and isa_supported asks
// nothing.
#include "ostrel/ostrel.h"

#include <arm_neon.h>

#include "ostrel/kernel.h"

namespace {

const uint8_t lane_bit[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};

struct neon_ops {
    typedef uint8x16_t reg;
    static constexpr size_t width = 16;
    static reg splat(char b) { return vdupq_n_u8(static_cast<uint8_t>(b)); }
    static reg zero() { return vdupq_n_u8(0); }
    static reg load(const unsigned char *p) { return vld1q_u8(p); }
    static reg eq(reg a, reg b) { return vceqq_u8(a, b); }
    static reg either(reg a, reg b) { return vorrq_u8(a, b); }
    static reg sub(reg a, reg b) { return vsubq_u8(a, b); }

    // NEON has no byte mask instruction: each lane keeps the bit of its
    // place in its half, and each half adds up to one byte of the mask.
    static uint32_t mask(reg a)
    {
        reg m = vandq_u8(a, vld1q_u8(lane_bit));
        return vaddv_u8(vget_low_u8(m)) | static_cast<uint32_t>(vaddv_u8(vget_high_u8(m))) << 8;
    }

    // A register's sum is at most 16 * 255, so each fits its 16-bit field.
    static uint64_t sums(reg a, reg c, reg g, reg t)
    {
        return uint64_t{vaddlvq_u8(a)} | uint64_t{vaddlvq_u8(c)} << 16 |
               uint64_t{vaddlvq_u8(g)} << 32 | uint64_t{vaddlvq_u8(t)} << 48;
    }
};

} // namespace

size_t count_neon(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    return count_vec<neon_ops>(p, n, m, lines, c);
}
