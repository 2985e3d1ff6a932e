#include "DShowX/DSParsers.h"

#include "DShowX/DSTrace.h"

LPSTR LL2Str(LONGLONG llValue, LPSTR pszConv) {
    ASSERT(pszConv != NULL);
    if (!pszConv)
        return NULL;

    LPSTR p = pszConv;
    // The magnitude as unsigned, so that the most negative value keeps it.
    ULONGLONG ullRest = (ULONGLONG)llValue;
    if (llValue < 0) {
        *p++ = '-';
        ullRest = 0 - ullRest;
    }
    bool bStarted = false;
    for (ULONGLONG ullDiv = 1000000000000000000ULL;; ullDiv /= 1000) {
        const UINT nGroup = (UINT)(ullRest / ullDiv);
        ullRest %= ullDiv;
        // Digits written directly: the block cache traces several numbers on
        // every read, and a formatter call per group would cost more than
        // the read.
        if (bStarted) {
            *p++ = ' ';
            *p++ = (CHAR)('0' + nGroup / 100);
            *p++ = (CHAR)('0' + nGroup / 10 % 10);
            *p++ = (CHAR)('0' + nGroup % 10);
        } else if (nGroup != 0 || ullDiv == 1) {
            if (nGroup >= 100)
                *p++ = (CHAR)('0' + nGroup / 100);
            if (nGroup >= 10)
                *p++ = (CHAR)('0' + nGroup / 10 % 10);
            *p++ = (CHAR)('0' + nGroup % 10);
            bStarted = true;
        }
        if (ullDiv == 1)
            break;
    }
    *p = 0;
    return pszConv;
}

LPSTR RefTime2Str(LONGLONG rtTime, LPSTR pszConv) {
    ASSERT(pszConv != NULL);
    if (!pszConv)
        return NULL;

    // Divisions truncate toward zero; the parts below the seconds are shown
    // without sign.
    const LONGLONG llMsTotal = rtTime / 10000;
    LONG lTicks = (LONG)(rtTime - llMsTotal * 10000);
    if (lTicks < 0)
        lTicks = -lTicks;
    const LONGLONG llSecTotal = llMsTotal / 1000;
    LONG lMs = (LONG)(llMsTotal - llSecTotal * 1000);
    if (lMs < 0)
        lMs = -lMs;
    // The seconds do not fit 32 bits: split them at 10^9.
    const LONG lHigh = (LONG)(llSecTotal / 1000000000);
    LONG lLow = (LONG)(llSecTotal - (LONGLONG)lHigh * 1000000000);

    if (lHigh == 0) {
        // Less than a second below zero: the low part cannot carry the sign.
        const bool bSign = rtTime < 0 && lLow == 0;
        if (lTicks != 0)
            wsprintfA(pszConv, bSign ? "-%u.%03u'%04u" : "%d.%03u'%04u", lLow, lMs, lTicks);
        else
            wsprintfA(pszConv, bSign ? "-%u.%03u" : "%d.%03u", lLow, lMs);
    } else {
        if (lLow < 0)
            lLow = -lLow;
        if (lTicks != 0)
            wsprintfA(pszConv, "%d%09u.%03u'%04u", lHigh, lLow, lMs, lTicks);
        else
            wsprintfA(pszConv, "%d%09u.%03u", lHigh, lLow, lMs);
    }
    return pszConv;
}
