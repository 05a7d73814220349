#pragma once

// Rounding a double to single precision where the result must be the float, even when it is
// widened again at once (x = float(a / b); y = x * c in double).
//
// A plain static_cast<float> is not enough in practice: GCC 12's SLP vectoriser at -O2 has
// been seen to fuse such a double -> float -> double chain into pure double arithmetic
// (divpd, mulpd, no cvtpd2ps), which moves values like 99.99999618530273 to exactly 100.0
// and changes which grid point a floor() picks. The empty asm below tells the compiler that
// the float may have been changed in its register, so the conversion has to happen and the
// value has to be used as it is; it emits no instruction.
inline float roundToSingle(double value)
{
    float f = static_cast<float>(value);
#if defined(__GNUC__) && (defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__)))
    __asm__("" : "+x"(f));
#elif defined(__GNUC__) && defined(__aarch64__)
    __asm__("" : "+w"(f));
#else
    volatile float stored = f; // a store the compiler must honour, and a load back
    f = stored;
#endif
    return f;
}
