// The trackbar wrapper: the control's own messages, on both targets.
#include "DShowX/DSDialog.h"

#include <commctrl.h>

void CTrackBarCtrl::SetRange(int nMin, int nMax, BOOL bRedraw) {
    ASSERT(m_pDialog != NULL);
    if (m_pDialog)
        m_pDialog->SendItemMessage(m_nID, TBM_SETRANGE, (WPARAM)bRedraw, MAKELPARAM(nMin, nMax));
}

void CTrackBarCtrl::SetPos(int nPos) {
    ASSERT(m_pDialog != NULL);
    if (m_pDialog)
        m_pDialog->SendItemMessage(m_nID, TBM_SETPOS, (WPARAM)TRUE, (LPARAM)nPos);
}

int CTrackBarCtrl::GetPos() const {
    ASSERT(m_pDialog != NULL);
    return m_pDialog ? (int)m_pDialog->SendItemMessage(m_nID, TBM_GETPOS, 0, 0) : 0;
}

int CTrackBarCtrl::GetRangeMin() const {
    ASSERT(m_pDialog != NULL);
    return m_pDialog ? (int)m_pDialog->SendItemMessage(m_nID, TBM_GETRANGEMIN, 0, 0) : 0;
}

int CTrackBarCtrl::GetRangeMax() const {
    ASSERT(m_pDialog != NULL);
    return m_pDialog ? (int)m_pDialog->SendItemMessage(m_nID, TBM_GETRANGEMAX, 0, 0) : 0;
}
