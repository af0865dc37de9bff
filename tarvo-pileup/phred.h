#ifndef TARVO_PILEUP_PHRED_H
#define TARVO_PILEUP_PHRED_H

// The error rate of a base of Phred quality Q (0 to 93, written as the
// byte Q + 33): eps = min(1, (4/3) * 10^(-Q/10)), the real number rounded
// once to the nearest double. A call to pow would round 10^(-Q/10) and then
// the product again, and the C library may pick another pow on another
// processor; these constants were worked out to 80 significant digits
// (Python's decimal module) and give the same doubles everywhere.
const double phred_eps[94] = {
    0x1.0000000000000p+0, 0x1.0000000000000p+0, 0x1.aebbc9bf3c5f5p-1,
    0x1.5624d1444586ep-1, 0x1.0fc6454f8c322p-1, 0x1.afc19d8606169p-2,
    0x1.56f4cb5274065p-2, 0x1.106b78fa86280p-2, 0x1.b0c810748ef47p-3,
    0x1.57c543cc8b115p-3, 0x1.1111111111111p-3, 0x1.b1cf22eb959d1p-4,
    0x1.58963aff637f7p-4, 0x1.11b70dd0379f1p-4, 0x1.b2d6d54c13836p-5,
    0x1.5967b13804deep-5, 0x1.125d6f75299ebp-5, 0x1.b3df27f73d0ccp-6,
    0x1.5a39a6c3a5906p-6, 0x1.1304363d3c0dep-6, 0x1.b4e81b4e81b4fp-7,
    0x1.5b0c1befaae41p-7, 0x1.13ab6265e932cp-7, 0x1.b5f1afb38c31cp-8,
    0x1.5bdf1109a935fp-8, 0x1.1452f42cd0b25p-8, 0x1.b6fbe58842977p-9,
    0x1.5cb2865f640a3p-9, 0x1.14faebcfb7a6bp-9, 0x1.b806bd2ec67c9p-10,
    0x1.5d867c3ece2a5p-10, 0x1.15a3498c88b67p-10, 0x1.b9123709751e1p-11,
    0x1.5e5af2f609c16p-11, 0x1.164c0da1542b2p-11, 0x1.ba1e537ae783bp-12,
    0x1.5f2fead368793p-12, 0x1.16f5384c50083p-12, 0x1.bb2b12e5f2a45p-13,
    0x1.600564256b96ep-13, 0x1.179ec9cbd821ep-13, 0x1.bc3875ada78a5p-14,
    0x1.60db5f3ac4180p-14, 0x1.1848c25e6e345p-14, 0x1.bd467c3553783p-15,
    0x1.61b1dc6252cfcp-15, 0x1.18f32242b9fa9p-15, 0x1.be5526e0800d1p-16,
    0x1.6288dbeb28837p-16, 0x1.199de9b789458p-16, 0x1.bf647612f3696p-17,
    0x1.63605e2486084p-17, 0x1.1a4918fbd0134p-17, 0x1.c0746a30b053bp-18,
    0x1.6438635ddc603p-18, 0x1.1af4b04ea8a63p-18, 0x1.c185039df65dbp-19,
    0x1.6510ebe6ccd74p-19, 0x1.1ba0afef539c5p-19, 0x1.c29642bf4208cp-20,
    0x1.65e9f80f29212p-20, 0x1.1c4d181d3806ap-20, 0x1.c3a827f94ceb9p-21,
    0x1.66c38826f3763p-21, 0x1.1cf9e917e3802p-21, 0x1.c4bab3b10dd6bp-22,
    0x1.679d9c7e5eb15p-22, 0x1.1da7231f0a45dp-22, 0x1.c5cde64bb8fa2p-23,
    0x1.68783565ce6d7p-23, 0x1.1e54c672874dbp-23, 0x1.c6e1c02ec00a9p-24,
    0x1.6953532dd722ep-24, 0x1.1f02d3525c5e9p-24, 0x1.c7f641bfd266ap-25,
    0x1.6a2ef6273e456p-25, 0x1.1fb149feb2277p-25, 0x1.c90b6b64dd3c8p-26,
    0x1.6b0b1ea2fa61bp-26, 0x1.20602ab7d8578p-26, 0x1.ca213d840baf8p-27,
    0x1.6be7ccf2333bap-27, 0x1.210f75be45b58p-27, 0x1.cb37b883c6fdap-28,
    0x1.6cc5016641ebbp-28, 0x1.21bf2b5298378p-28, 0x1.cc4edccab6a59p-29,
    0x1.6da2bc50b0fd3p-29, 0x1.226f4bb5951b0p-29, 0x1.cd66aabfc08c1p-30,
    0x1.6e80fe033c8c6p-30, 0x1.231fd72828fc8p-30, 0x1.ce7f22ca09226p-31,
    0x1.6f5fc6cfd2648p-31,
};

#endif
