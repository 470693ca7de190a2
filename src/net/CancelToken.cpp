#include "net/CancelToken.h"

#include "models/CancelledError.h"

void CancelToken::cancel() {
    if (m_cancelled)
        return;
    m_cancelled = true;
    Q_EMIT cancelled();
}

void CancelToken::throwIfCancelled() const {
    if (m_cancelled)
        throw CancelledError();
}
